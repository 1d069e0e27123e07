#include "tools/zlm_read/address_list.h"

#include <algorithm>
#include <sstream>

#include "meter/link_format.h"
#include "platform/number_text.h"

namespace {

std::vector<std::string> Items(const std::string& value) {
  std::vector<std::string> items;
  std::istringstream in(value);
  for (std::string item; std::getline(in, item, ',');) items.push_back(item);
  if (value.empty() || value.back() == ',') items.emplace_back();
  return items;
}

}  // namespace

std::string AddressValueError(const std::string& value) {
  for (const std::string& item : Items(value)) {
    if (!ParseInt(item)) return "'" + item + "' is not a decimal whole number";
  }
  return {};
}

AddressList ParseAddressList(const std::vector<std::string>& values) {
  AddressList list;
  for (const std::string& value : values) {
    if (std::string error = AddressValueError(value); !error.empty()) return {{}, error};
    for (const std::string& item : Items(value)) {
      const int address = *ParseInt(item);
      if (std::find(list.addresses.begin(), list.addresses.end(), address) !=
          list.addresses.end()) {
        return {{}, "address " + std::to_string(address) + " is given twice"};
      }
      list.addresses.push_back(address);
    }
  }
  // Every meter answers the single-meter address: with others on the line
  // their answers would collide.
  if (list.addresses.size() > 1 && std::find(list.addresses.begin(), list.addresses.end(),
                                             kSingleMeterAddress) != list.addresses.end()) {
    return {{}, "255 reaches every meter on the line and cannot be read beside other addresses"};
  }
  return list;
}
