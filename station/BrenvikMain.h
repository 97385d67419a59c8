// The station's main window: start-up and image check, the customization run started by
// START, the image download, serial numbers and the production report.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "vcl.h"

// The settings file, in the profile directory.
inline constexpr const char* kSettingsFile = "osm106.ini";

// Path of the firmware image: at most 49 characters, filled once at start-up.
extern char ImagePath[50];

// Results of DownloadImage.
inline constexpr int kImageLoaded = 161;
inline constexpr int kImageFailed = 160;

// Image bytes per block; a full block frame is 128 bytes, the largest buffer size accepted.
inline constexpr uint32_t kBlockBytes = 119;
inline constexpr uint32_t kLargestBuffer = 128;
// The identity area of a run; a record must leave a zero byte behind it there.
inline constexpr size_t kIdentityArea = 40;
inline constexpr size_t kLongestSerial = kIdentityArea - 3;

// What AllocateSerial yields for one run.
struct SerialState {
  int32_t site = 0;
  int32_t pc = 0;
  int32_t taken = 0;
  char SerialNumber[80] = {};
  std::unique_ptr<uint8_t[]> record;  // the IdentityRecord: 0x01, L, the text
  uint32_t record_length = 0;
};

enum class AllocateResult {
  kAllocated,
  kCounterNotWritten,  // the settings file could not be written: nothing was taken
  kCounterExhausted,   // "Counter" holds the largest number there is: nothing was taken
  kSerialTooLong,      // the serial text would not fit the identity area: nothing was taken
};

// Month bookkeeping, "Counter" advanced by one in the settings file, the serial text and its
// identity record. On any result but kAllocated the counter is as it was.
AllocateResult AllocateSerial(const std::tm& when, SerialState* state);
// "Counter" set back to the taken number. Returns false when it could not be written.
bool ReleaseSerial(int32_t taken);
// One record appended to the month's report file in the current directory. Returns false
// when the record did not reach the file (it could not be opened, or the write failed).
bool AppendReportLine(int32_t site, int32_t pc, const std::tm& when, const char* serial);

// "RepOsm" site PC year month ".txt", never cut short.
std::string ReportFileName(int32_t site, int32_t pc, const std::tm& when);
// "Mon Mar 08 14:05:09 1999": the 24-character date text.
std::string DateText(const std::tm& when);
// The module's own serial from the identity area (the text behind tag and length byte, up to
// the area's first zero byte).
std::string OwnSerial(const uint8_t* area, size_t area_size);

class TForm1 : public vcl::TForm {
 public:
  TForm1();

  vcl::TButton* Button1;
  vcl::TLabel* title;
  vcl::TPanel* Panel1;
  vcl::TPanel* Panel2;
  vcl::TPanel* Panel3;
  vcl::TPanel* Panel4;
  vcl::TPanel* Panel5;
  vcl::TPanel* Panel6;
  vcl::TPanel* Panel7;
  vcl::TPanel* Panel8;
  vcl::TPanel* Panel9;
  vcl::TPanel* Panel10;
  vcl::TPanel* Panel11;
  vcl::TLabel* Label1;

  void FormCreate(vcl::TObject* Sender);
  void Button1Click(vcl::TObject* Sender);
  int DownloadImage();
  void ShowReady();

  // Lamp n, 1 to 11.
  vcl::TPanel* Lamp(int n) const;
  // The local time of a run; tests set any date.
  std::function<std::tm()> RunTime;

  void DoCreate() override { FormCreate(this); }

 private:
  void ShowStatus(vcl::TColor color, const char* text);
};

extern TForm1* Form1;
