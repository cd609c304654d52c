#include "output/record.h"

namespace kel {

void Record::set(std::string_view name, Value value) {
  for (std::size_t i = 0; i < count; ++i) {
    if (members[i].name == name) {
      members[i].value = value;
      return;
    }
  }
  // Records are built from fixed member lists far below the capacity.
  if (count < maxMembers) members[count++] = Member{name, value};
}

const Value* Record::find(std::string_view name) const {
  for (std::size_t i = 0; i < count; ++i) {
    if (members[i].name == name) return &members[i].value;
  }
  return nullptr;
}

}  // namespace kel
