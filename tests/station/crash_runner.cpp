// A station that customizes one fresh blank module after another, for the crash test to kill
// at any moment. Usage: crash_runner DIR FIRST COUNT
// Module i is described by DIR/module-i.state; message boxes are appended to DIR/boxes.log.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "BrenvikMain.h"
#include "messages.h"
#include "vcl.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: crash_runner DIR FIRST COUNT\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int first = std::atoi(argv[2]);
  const int count = std::atoi(argv[3]);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
  if (chdir(dir.c_str()) != 0) return 2;
  platform::SetMessageBoxHandler([&](const platform::MessageBoxRequest& r) {
    const std::string line = r.text + "\n";
    const int fd = open((dir + "/boxes.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      if (write(fd, line.data(), line.size()) < 0) perror("boxes.log");
      fsync(fd);
      close(fd);
    }
    return platform::IDOK;
  });
  vcl::TApplication application(argc, argv);
  application.Initialize();
  application.CreateForm(Form1);
  Form1->RunTime = [] {
    std::tm t{};
    t.tm_year = 99;
    t.tm_mon = 2;
    t.tm_mday = 15;
    t.tm_wday = 1;
    t.tm_hour = 14;
    t.tm_min = 5;
    t.tm_sec = 9;
    return t;
  };
  for (int i = first; i < first + count; ++i) {
    const std::string state = dir + "/module-" + std::to_string(i) + ".state";
    std::ofstream(state) << "identity =\nclock = virtual\n";
    setenv("TALVANE_ADAPTER", ("emulator:" + state).c_str(), 1);
    Form1->Button1->Click();
  }
  return 0;
}
