// revenant takes no arguments; any that are given are ignored.
#include "revenant/Revenant.h"

int main(int, char**) { return RevenantMain(); }
