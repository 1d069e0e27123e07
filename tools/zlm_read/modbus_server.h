#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/zlm_read/modbus_map.h"
#include "tools/zlm_read/modbus_snapshot.h"
#include "tools/zlm_read/reading_sink.h"

// zlm-read's Modbus TCP options.
struct ModbusOptions {
  std::string listen;  // [HOST:]PORT as given; empty: no server
  WordOrder wordOrder = WordOrder::kHighFirst;
};

// Adds --modbus-tcp and --modbus-word-order; the address is checked as it
// is parsed.
void AddModbusOptions(CLI::App& app, ModbusOptions& options);

// Where the server listens: PORT alone is 127.0.0.1; other addresses must
// be named (0.0.0.0, a host name, [::1]). Port 0 takes a free one.
struct ListenAddress {
  std::string host;
  std::string port;
};
// The address, or nothing with the reason in error.
std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& error);

struct ModbusServerSettings {
  ListenAddress listen;
  WordOrder wordOrder = WordOrder::kHighFirst;
  // A client that sends no whole request for this long is dropped.
  std::chrono::milliseconds idleTimeout{60000};
  // A client that stops in the middle of a request for this long is dropped.
  std::chrono::milliseconds frameTimeout{2000};
  // Connections beyond these are closed as they come.
  std::size_t maxClients = 32;
};

// A Modbus TCP server on its own thread, answering functions 03 and 04 from
// the snapshot with the map of modbus_map.h, through libmodbus. A unit no
// meter has, or whose meter never answered, gets exception 0x0B; a register
// outside the map 0x02; every other function (writes included) 0x01. A
// client that sends what is no Modbus TCP request, stops mid-request or
// stays idle is dropped; the others are served on.
class ModbusServer {
 public:
  // Listening and serving; nullptr with the reason in error.
  static std::unique_ptr<ModbusServer> Start(const ModbusServerSettings& settings,
                                             std::shared_ptr<const MeterSnapshot> snapshot,
                                             std::string& error);
  ~ModbusServer();
  ModbusServer(const ModbusServer&) = delete;
  ModbusServer& operator=(const ModbusServer&) = delete;

  // Where it listens, its port resolved: "127.0.0.1:1502", "[::1]:1502".
  const std::string& Address() const;
  int Port() const;

  struct Impl;

 private:
  explicit ModbusServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

// A sink that serves the meters at addresses from a ModbusServer, each
// reading and failure published to its snapshot; nullptr with the reason in
// error when it cannot listen. Where it listens is said on log.
std::unique_ptr<ReadingSink> MakeModbusSink(const ModbusOptions& options,
                                            const std::vector<int>& addresses, std::FILE* log,
                                            std::string& error);
