#include "core/natives.hpp"
namespace data {
void register_format_natives() {}
}
