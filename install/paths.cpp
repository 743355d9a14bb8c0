#include "install/paths.h"

bool IsPathSeparator(char c) {
    return c == '/' || c == '\\';
}
