#pragma once

#include <string>
#include <vector>

// The meters of --address, in the order given: each value of the option a
// decimal whole number as the window's address field reads it, or several
// separated by commas ("1,3,7"). Whether each is a meter address is checked
// apart (IsValidMeterAddress), so that it is reported as the window does.
struct AddressList {
  std::vector<int> addresses;
  std::string error;  // why the list cannot be read; empty when it can
};

// The error of a single value of the option; empty when it reads.
std::string AddressValueError(const std::string& value);

AddressList ParseAddressList(const std::vector<std::string>& values);
