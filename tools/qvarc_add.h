// The add command of qvarc. argv[0] is "a"; the options and names follow.
#pragma once

int RunAdd(int argc, char** argv);
