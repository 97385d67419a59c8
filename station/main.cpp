// The station program: one window, the START button and the customization run.
#include <cstdio>
#include <exception>

#include "BrenvikMain.h"
#include "vcl.h"

int main(int argc, char** argv) {
  try {
    vcl::TApplication application(argc, argv);
    application.Initialize();
    try {
      application.CreateForm(Form1);
      application.Run();
    } catch (const std::exception& e) {
      application.ShowException(e);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brenvik: %s\n", e.what());
  }
  return 0;
}
