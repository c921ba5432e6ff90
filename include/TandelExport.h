#ifndef TANDEL_EXPORT_H
#define TANDEL_EXPORT_H

// Marks what libtandel.so exports. The library is built with hidden visibility,
// so only the classes carrying this mark (and their members) are visible to callers.
#define TANDEL_API __attribute__((visibility("default")))

#endif  // TANDEL_EXPORT_H
