// brastok_client: the commands, over real UDP sockets.
#pragma once

#include "clienttool.hpp"

// Runs the command of O to its end and returns the exit status. Results go
// to standard output, errors as one line to standard error.
int CL_RUN(const CL_OPTIONS& O);
