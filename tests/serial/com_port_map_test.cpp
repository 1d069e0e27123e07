#include "serial/com_port_map.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <optional>

#include "serial_test_support.h"

namespace {

void Touch(const std::filesystem::path& path, const std::string& text = "") {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

TEST(ComPortMapTest, OverridesKeepTheirNumbersAndDevicesFillTheRestInFamilyOrder) {
  ScratchRoots scratch;
  for (const char* node : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyS3", "ttyUSB10", "ttyUSB2",
                           "ttyACM0", "ttyAMA0", "tty0", "ttyS", "ttySAC0", "ttyUSBx", "console"}) {
    Touch(scratch.Path(std::string("dev/") + node));
  }
  std::filesystem::create_directory(scratch.Path("dev/ttyS9"));
  // ttyS1 and ttyS2 are placeholders without a UART; ttyS3 has no sysfs
  // entry and is kept.
  for (const auto& [node, type] : {std::pair{"ttyS0", "4\n"}, std::pair{"ttyS1", "0\n"},
                                   std::pair{"ttyS2", "0\n"}, std::pair{"ttyS10", "4\n"}}) {
    Touch(scratch.Path(std::string("sys/class/tty/") + node + "/type"), type);
  }
  scratch.Override(2, "/dev/serial/by-id/usb-adapter-if00-port0");  // target absent
  scratch.Override(4, "/dev/pts/7");
  for (const char* ignored : {"COM0", "COM256", "COM07", "COMx", "com5"}) {
    std::filesystem::create_symlink("/dev/null", scratch.Path(std::string("ports/") + ignored));
  }
  Touch(scratch.Path("ports/COM9"));  // not a symlink

  ComPortMap map(scratch.Roots());
  const std::string dev = scratch.Path("dev").string() + "/";
  const std::string ports = scratch.Path("ports").string() + "/";
  const std::vector<ComPortEntry> expected = {
      {1, dev + "ttyS0", dev + "ttyS0", false},
      {2, ports + "COM2", "/dev/serial/by-id/usb-adapter-if00-port0", true},
      {3, dev + "ttyS3", dev + "ttyS3", false},
      {4, ports + "COM4", "/dev/pts/7", true},
      {5, dev + "ttyS10", dev + "ttyS10", false},
      {6, dev + "ttyUSB2", dev + "ttyUSB2", false},
      {7, dev + "ttyUSB10", dev + "ttyUSB10", false},
      {8, dev + "ttyACM0", dev + "ttyACM0", false},
      {9, dev + "ttyAMA0", dev + "ttyAMA0", false},
  };
  EXPECT_EQ(map.List(), expected);
  for (const ComPortEntry& entry : expected) {
    EXPECT_EQ(map.Resolve(entry.number), entry.path) << "COM" << entry.number;
  }
  for (int unmapped : {0, 10, 255, 256, -1}) {
    EXPECT_EQ(map.Resolve(unmapped), std::nullopt) << "COM" << unmapped;
  }
}

// A file named COMn holding a network serial server's address makes COMn
// that server; a file holding anything else is no override, as before.
TEST(ComPortMapTest, FilesHoldingANetworkAddressAreOverrides) {
  ScratchRoots scratch;
  Touch(scratch.Path("dev/ttyUSB0"));
  const struct {
    const char* name;
    const char* text;
    std::optional<std::string> address;
  } cases[] = {
      {"COM5", "rfc2217://192.168.1.20:4001\n", "rfc2217://192.168.1.20:4001"},
      {"COM6", "  RFC2217://[::1]:2000 \r\n# meters in hall 2\n", "RFC2217://[::1]:2000"},
      {"COM7", "/dev/ttyUSB0\n", std::nullopt},
      {"COM8", "", std::nullopt},
      {"COM9", "telnet://host:23", std::nullopt},
  };
  for (const auto& c : cases) Touch(scratch.Path(std::string("ports/") + c.name), c.text);

  ComPortMap map(scratch.Roots());
  for (const auto& c : cases) {
    const int n = c.name[3] - '0';
    EXPECT_EQ(map.Resolve(n), c.address) << c.name;
  }
  // Devices take the numbers the files leave: ttyUSB0 is COM1.
  EXPECT_EQ(map.Resolve(1), scratch.Path("dev/ttyUSB0").string());

  // Written again in place, the file is read again.
  Touch(scratch.Path("ports/COM7"), "rfc2217://meters.example:4002\n");
  EXPECT_EQ(map.Resolve(7), "rfc2217://meters.example:4002");
}

TEST(ComPortMapTest, SeesDevicesAndOverridesThatComeAndGo) {
  ScratchRoots scratch;
  std::filesystem::remove(scratch.Path("ports"));
  ComPortMap map(scratch.Roots());
  EXPECT_TRUE(map.List().empty());

  Touch(scratch.Path("dev/ttyUSB0"));
  EXPECT_EQ(map.Resolve(1), scratch.Path("dev/ttyUSB0").string());

  std::filesystem::create_directory(scratch.Path("ports"));
  scratch.Override(1, "/dev/pts/3");
  EXPECT_EQ(map.Resolve(1), scratch.Path("ports/COM1").string());
  EXPECT_EQ(map.Resolve(2), scratch.Path("dev/ttyUSB0").string());

  std::filesystem::rename(scratch.Path("dev/ttyUSB0"), scratch.Path("dev/ttyACM0"));
  EXPECT_EQ(map.Resolve(2), scratch.Path("dev/ttyACM0").string());

  std::filesystem::remove_all(scratch.Path("ports"));
  EXPECT_EQ(map.Resolve(1), scratch.Path("dev/ttyACM0").string());
  EXPECT_EQ(map.Resolve(2), std::nullopt);
}

TEST(ComPortMapTest, ParsesDevicePaths) {
  const struct {
    const char* path;
    std::optional<int> number;
  } cases[] = {
      {R"(\\.\COM1)", 1},           {R"(\\.\COM255)", 255},          {R"(\\.\COM0)", 0},
      {R"(\\.\com7)", 7},           {R"(\\.\COM256)", std::nullopt}, {R"(\\.\COM07)", std::nullopt},
      {R"(\\.\COM)", std::nullopt}, {R"(\\.\COM7x)", std::nullopt},  {R"(\\.\COM-1)", std::nullopt},
      {"COM7", std::nullopt},       {"/dev/ttyS0", std::nullopt},    {R"(\\.\LPT1)", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseComDevicePath(c.path), c.number) << c.path;
  }
}

TEST(ComPortMapTest, DefaultPortDirectoryFollowsXdgConfigHome) {
  const struct {
    const char* xdg;  // nullptr: unset
    const char* home;
    const char* portDir;
  } cases[] = {
      {"/cfg", "/home/op", "/cfg/zlm-reader/ports"},
      {nullptr, "/home/op", "/home/op/.config/zlm-reader/ports"},
      {"", "/home/op", "/home/op/.config/zlm-reader/ports"},
      {"relative/cfg", "/home/op", "/home/op/.config/zlm-reader/ports"},
  };
  const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
  const std::optional<std::string> xdg =
      savedXdg ? std::optional<std::string>(savedXdg) : std::nullopt;
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  for (const auto& c : cases) {
    if (c.xdg) {
      ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    ::setenv("HOME", c.home, 1);
    const PortRoots roots = DefaultPortRoots();
    EXPECT_EQ(roots.portDir, c.portDir) << (c.xdg ? c.xdg : "(unset)");
    EXPECT_EQ(roots.devDir, "/dev");
    EXPECT_EQ(roots.sysDir, "/sys");
  }
  if (xdg) {
    ::setenv("XDG_CONFIG_HOME", xdg->c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  ::setenv("HOME", home.c_str(), 1);
}

// Tests point every program at devices they made through ZLM_SYSTEM_ROOT.
TEST(ComPortMapTest, SystemRootStandsInForTheMachinesDirectories) {
  ScratchRoots scratch;
  std::filesystem::create_directories(scratch.Path("run/lock"));
  const std::string base = scratch.Path("").string();
  const struct {
    const char* root;  // nullptr: unset
    std::string devDir;
    std::string sysDir;
    std::string lockDir;
  } cases[] = {
      {base.c_str(), scratch.Path("dev").string(), scratch.Path("sys").string(),
       scratch.Path("run/lock").string()},
      {"relative/root", "/dev", "/sys", DefaultPortRoots().lockDir},
      {nullptr, "/dev", "/sys", DefaultPortRoots().lockDir},
  };
  for (const auto& c : cases) {
    if (c.root) {
      ::setenv("ZLM_SYSTEM_ROOT", c.root, 1);
    } else {
      ::unsetenv("ZLM_SYSTEM_ROOT");
    }
    const PortRoots roots = DefaultPortRoots();
    EXPECT_EQ(std::filesystem::path(roots.devDir), std::filesystem::path(c.devDir));
    EXPECT_EQ(std::filesystem::path(roots.sysDir), std::filesystem::path(c.sysDir));
    EXPECT_EQ(std::filesystem::path(roots.lockDir), std::filesystem::path(c.lockDir));
  }
  ::unsetenv("ZLM_SYSTEM_ROOT");
}

TEST(ComNameTest, PortArgumentToDevicePath) {
  const std::pair<const char*, const char*> cases[] = {
      {"COM9", "\\\\.\\COM9"}, {"com12", "\\\\.\\com12"}, {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"COM", "COM"},          {"COM9x", "COM9x"},        {"COMPORT", "COMPORT"},
  };
  for (const auto& [port, path] : cases) EXPECT_EQ(DevicePathOf(port), path);
}

}  // namespace
