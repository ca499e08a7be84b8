// POSIX: the system console is never opened, whatever name leads to it: the driver refuses a
// device that the kernel's consoles lists name (here a pseudo-terminal stands in for the
// console, named by lists of the test's own), and the window says why. zanowipe-cli's
// /dev/ttyS* rule judges the device a name leads to, not the name's text. Nothing here opens a
// /dev/ttyS* device: those cases go through pure functions and the fake driver only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "Form1Fixture.h"
#include "app/cli/Autopilot.h"
#include "app/cli/CliOptions.h"
#include "serial/driver/CommDriver.h"
#include "serial/driver/DeviceMap.h"
#include "serial/driver/posix/tty/ConsoleGuard.h"

namespace {

namespace fs = std::filesystem;

// A pseudo-terminal's slave, which the code under test opens by one name or another.
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      path_ = ::ptsname(master_);
    }
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
  }
  const std::string& Path() const { return path_; }
  // "pts/N", as the consoles lists name devices.
  std::string NameUnderDev() const { return path_.substr(std::string("/dev/").size()); }
  std::string Number() const {
    struct stat st {};
    ::stat(path_.c_str(), &st);
    return std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  }

 private:
  int master_ = -1;
  std::string path_;
};

// Every way of naming the pty that must be seen through: links, a chain of links, and
// roundabout spellings of its path.
std::vector<std::string> Spellings(const Pty& pty, const TempDir& dir) {
  const std::string link = dir.File("serial0");
  const std::string chain = dir.File("chain");
  fs::create_symlink(pty.Path(), link);
  fs::create_symlink("serial0", chain);  // relative, as udev makes them
  const std::string name = pty.NameUnderDev();
  return {pty.Path(), link, chain, "/dev/./" + name, "/dev//" + name, "/dev/pts/../" + name};
}

// Points the guard at lists of the test's own and back at the kernel's afterwards.
class ConsoleListsTest : public Form1Test {
 protected:
  ~ConsoleListsTest() override {
    drv::posix::SetConsoleLists(drv::posix::ConsoleLists{});
    drv::ClearDeviceMappings();
  }
  void UseLists(const std::string& registered, const std::string& active) {
    TempDir::Write(dir.File("consoles"), registered);
    TempDir::Write(dir.File("active"), active);
    drv::posix::SetConsoleLists({dir.File("consoles"), dir.File("active")});
  }
  // Opens name with the platform driver as the component does: the last error, or 0 when it
  // opened (and was closed again).
  static std::uint32_t OpenError(const std::string& name) {
    drv::CommDriver& driver = drv::DefaultCommDriver();
    const drv::Handle h = driver.CreateFileA(name.c_str(), drv::kGenericRead | drv::kGenericWrite,
                                             0, drv::kOpenExisting, drv::kFileFlagOverlapped);
    if (h == drv::kInvalidHandle) return driver.GetLastError();
    driver.CloseHandle(h);
    return 0;
  }
  Pty pty;
};

TEST_F(ConsoleListsTest, EveryNameOfAListedConsoleIsRefused) {
  ASSERT_FALSE(pty.Path().empty());
  const std::vector<std::string> names = Spellings(pty, dir);
  struct Lists {
    const char* how;
    std::string registered, active;
  };
  const std::vector<Lists> lists = {
      // Known by its number under a name of its own, as a renamed console would be.
      {"registered by number",
       "tty0 -WU (E  p  ) 4:1\nttyFAKE7 -W- (EC p a) " + pty.Number() + "\n", ""},
      {"registered by name", "tty0 -WU (E  p  ) 4:1\n" + pty.NameUnderDev() + " -W- (EC p a)\n",
       ""},
      {"active", "", "tty0 " + pty.NameUnderDev() + "\n"},
  };
  for (const Lists& l : lists) {
    UseLists(l.registered, l.active);
    for (const std::string& name : names) {
      EXPECT_EQ(OpenError(name), drv::kErrorSystemConsole) << l.how << ": " << name;
    }
  }
  // Whatever the lists say (judged without opening it).
  UseLists("", "");
  EXPECT_TRUE(drv::posix::IsSystemConsole("/dev/console"));
}

TEST_F(ConsoleListsTest, DeviceNoListNamesOpens) {
  ASSERT_FALSE(pty.Path().empty());
  const std::vector<std::string> names = Spellings(pty, dir);
  UseLists("ttyS0 -W- (EC p a) 4:64\n", "tty0 ttyS0\n");
  for (const std::string& name : names) EXPECT_EQ(OpenError(name), 0u) << name;
  // Lists that cannot be read name nothing.
  drv::posix::SetConsoleLists({dir.File("missing-consoles"), dir.File("missing-active")});
  EXPECT_EQ(OpenError(names[1]), 0u) << names[1];
}

TEST_F(ConsoleListsTest, WindowSaysAMappedPortIsTheSystemConsole) {
  ASSERT_FALSE(pty.Path().empty());
  Spellings(pty, dir);
  UseLists("", pty.NameUnderDev() + "\n");
  TempDir::Write(dir.File("Zanowipe.ini"),
                 "[APP]\nCOM PORT=2\n[PORTS]\nCOM2=" + dir.File("serial0") + "\n");
  form = std::make_unique<TForm1>();  // the platform's driver
  backend.CreatePeers(*form);
  backend.Show(*form);
  form->cmdOpen.UserClick();
  backend.ProcessMessages();
  EXPECT_FALSE(form->Cx1.Connected());
  EXPECT_TRUE(form->cmdOpen.Enabled());
  EXPECT_FALSE(form->cmdClose.Enabled());
  EXPECT_EQ(ErrorTexts(),
            "Unable to open com port: COM2 (" + pty.Path() + ") is the system console.\n");

  // Any other failure keeps the component's own text.
  backend.ClearErrorBoxes();
  drv::SetDeviceMapping("COM2", dir.File("no-such-device"));
  form->cmdOpen.UserClick();
  backend.ProcessMessages();
  EXPECT_EQ(ErrorTexts(), "Unable to open com port (win error code: 2)\n");
}

// zanowipe-cli's rule for /dev/ttyS*: judged after links and spellings are resolved.
std::vector<std::string> TtySSpellings(const TempDir& dir) {
  std::vector<std::string> names = {"/dev/./ttyS4242", "/dev//ttyS4242", "/dev/../dev/ttyS4242",
                                    dir.File("to-ttyS")};
  fs::create_symlink("/dev/ttyS4242", dir.File("to-ttyS"));
  if (fs::exists("/dev/ttyS0")) {
    // Resolving a link to an existing console device opens nothing.
    fs::create_symlink("/dev/ttyS0", dir.File("serial0"));
    names.push_back(dir.File("serial0"));
    names.push_back("/dev/./ttyS0");
  }
  return names;
}

TEST(CliTtyS, RoundaboutNamesOfATtySDeviceAreRefusedUnlessAllowed) {
  TempDir dir;
  for (const std::string& name : TtySSpellings(dir)) {
    EXPECT_TRUE(cli::IsConsoleLikeDevice(name)) << name;
    std::string port = name;
    char arg0[] = "zanowipe-cli", arg1[] = "--port", arg3[] = "--allow-ttyS";
    char* refused[] = {arg0, arg1, port.data(), nullptr};
    const cli::CliParse parsed = cli::ParseCliOptions(3, refused);
    EXPECT_FALSE(parsed.options.has_value()) << name;
    EXPECT_EQ(parsed.exitCode, cli::kExitUsage) << name;
    EXPECT_NE(parsed.message.find("refusing " + name), std::string::npos) << parsed.message;
    char* allowed[] = {arg0, arg1, port.data(), arg3, nullptr};
    EXPECT_TRUE(cli::ParseCliOptions(4, allowed).options.has_value()) << name;
  }
  EXPECT_FALSE(cli::IsConsoleLikeDevice(dir.File("ttyS0")));
  EXPECT_FALSE(cli::IsConsoleLikeDevice("/dev/ttyUSB0"));
}

// zanowipe-cli's autopilot on the window, its port on the fake driver.
class CliPortTest : public Form1Test {};

// A [PORTS] entry that leads to /dev/ttyS* is refused before anything is opened.
TEST_F(CliPortTest, MappedToATtySDeviceIsRefusedBeforeOpening) {
  for (const std::string& device : TtySSpellings(dir)) {
    app::ResetModuleState();
    drv::ClearDeviceMappings();
    TempDir::Write(dir.File("Zanowipe.ini"), "[PORTS]\nCOM2=" + device + "\n");
    CreateForm();
    fake.ClearCalls();
    cli::CliOptions options;
    options.port = "COM2";
    options.comIndex = 1;
    options.yes = true;
    options.timeoutSeconds = 1;  // a port opened by mistake would otherwise wait for ever
    std::ostringstream out, err;
    cli::Autopilot pilot(*form, backend, options, out, err, [] { return false; });
    EXPECT_EQ(pilot.Run(), cli::kExitUsage) << device << "\n" << err.str();
    EXPECT_NE(err.str().find("COM2 maps to " + device), std::string::npos) << err.str();
    EXPECT_EQ(fake.CountOf("CreateFileA"), 0) << device;
    form.reset();
  }
  drv::ClearDeviceMappings();
}

}  // namespace
