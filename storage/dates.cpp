#include "core/natives.hpp"
namespace storage {
void register_date_natives() {}
}
