// A table module that reaches up into the command layer: check_layers.sh
// must refuse it.
#include "commands.hpp"
