// A core header that reaches up into data: the layering check refuses it.
#include "data/printer.hpp"
