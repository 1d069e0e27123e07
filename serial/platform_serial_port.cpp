#include "serial/platform_serial_port.h"

#include "serial/com_name.h"

HANDLE PlatformSerialPort::CreateFile(const std::string& path) {
  std::string address = path;
#ifndef _WIN32
  if (const std::optional<int> number = ParseComDevicePath(path)) {
    address = m_device.PortMap().Resolve(*number).value_or(path);
  }
#endif
  m_last = IsRfc2217Url(address) ? static_cast<SerialPort*>(&m_network) : &m_device;
  return m_last->CreateFile(m_last == &m_network ? address : path);
}

void PlatformSerialPort::BeginPortScan() {
  m_device.BeginPortScan();
  m_network.BeginPortScan();
}

void PlatformSerialPort::EndPortScan() {
  m_device.EndPortScan();
  m_network.EndPortScan();
}
