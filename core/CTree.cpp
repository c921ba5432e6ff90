#include "CTree.h"

CTree::CTree() {}

CTree::~CTree() {}
