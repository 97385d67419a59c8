#include "BrenvikMain.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "Talvane.h"
#include "Testprod.h"
#include "file_io.h"
#include "messages.h"
#include "profile.h"
#include "resources/TForm1Resource.h"

using platform::GetPrivateProfileInt;
using platform::GetPrivateProfileString;
using platform::MB_ICONEXCLAMATION;
using platform::MB_OK;
using platform::MB_OKCANCEL;
using platform::MessageBoxA;
using platform::WritePrivateProfileString;
using vcl::clBlue;
using vcl::clGreen;
using vcl::clLime;
using vcl::clRed;
using vcl::clSilver;

TForm1* Form1 = nullptr;
char ImagePath[50] = {};

namespace {

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return parts;
}

std::string Decimal(long long value) { return std::to_string(value); }

// Opens the image for reading; a folder or a device is no image and cannot be opened.
std::FILE* OpenImage() {
  std::FILE* image = std::fopen(ImagePath, "rb");
  if (image == nullptr) return nullptr;
  struct stat st {};
  if (fstat(fileno(image), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(image);
    return nullptr;
  }
  return image;
}

bool WriteSetting(const char* key, long long value) {
  return WritePrivateProfileString("INFO", key, Decimal(value).c_str(), kSettingsFile);
}

void ReportBox() { MessageBoxA(nullptr, "Cannot open the config file", "Error", MB_OKCANCEL); }

// The following blocks after which a progress lamp lights: j = 200 lights Panel3, and so on
// to j = 1400 for Panel9.
int ThresholdLamp(uint32_t j) {
  if (j < 200 || j > 1400 || j % 200 != 0) return 0;
  return 2 + static_cast<int>(j / 200);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Serial numbers and the production report

std::string ReportFileName(int32_t site, int32_t pc, const std::tm& when) {
  return "RepOsm" + Decimal(site) + Decimal(pc) + Decimal(when.tm_year) + Decimal(when.tm_mon) +
         ".txt";
}

std::string DateText(const std::tm& when) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int wday = when.tm_wday >= 0 && when.tm_wday < 7 ? when.tm_wday : 0;
  const int mon = when.tm_mon >= 0 && when.tm_mon < 12 ? when.tm_mon : 0;
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04lld", kDays[wday], kMonths[mon],
                when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec,
                static_cast<long long>(when.tm_year) + 1900);
  return text;
}

AllocateResult AllocateSerial(const std::tm& when, SerialState* state) {
  const int32_t stored_month = GetPrivateProfileInt("INFO", "Month", 0, kSettingsFile);
  if (stored_month != when.tm_mon) WriteSetting("Month", when.tm_mon);
  state->pc = GetPrivateProfileInt("INFO", "PCnumber", 0, kSettingsFile);
  state->taken = GetPrivateProfileInt("INFO", "Counter", 0, kSettingsFile);
  state->site = GetPrivateProfileInt("INFO", "ProdSite", 0, kSettingsFile);

  const std::string serial = "DV" + Decimal(state->site) + Decimal(state->pc) +
                             Decimal(when.tm_year) + Decimal(when.tm_mon) + Decimal(state->taken);
  // Checked before the counter moves, so a refused run takes no number.
  if (state->taken == INT32_MAX) return AllocateResult::kCounterExhausted;
  if (serial.size() > kLongestSerial) return AllocateResult::kSerialTooLong;
  if (!WriteSetting("Counter", static_cast<long long>(state->taken) + 1)) {
    return AllocateResult::kCounterNotWritten;
  }

  std::snprintf(state->SerialNumber, sizeof state->SerialNumber, "%s", serial.c_str());
  const size_t length = serial.size();
  state->record_length = static_cast<uint32_t>(length + 2);
  state->record = std::make_unique<uint8_t[]>(length + 2);
  state->record[0] = 0x01;
  state->record[1] = static_cast<uint8_t>(length & 0xFF);
  std::memcpy(state->record.get() + 2, serial.data(), length);
  return AllocateResult::kAllocated;
}

bool ReleaseSerial(int32_t taken) { return WriteSetting("Counter", taken); }

bool AppendReportLine(int32_t site, int32_t pc, const std::tm& when, const char* serial) {
  // serial, ten spaces, the date text, CR LF, and one zero byte.
  std::string record = serial;
  record += "          ";
  record += DateText(when);
  record += "\r\n";
  record.push_back('\0');
  return platform::AppendDurably(ReportFileName(site, pc, when), record.data(), record.size()) ==
         platform::AppendResult::kAppended;
}

std::string OwnSerial(const uint8_t* area, size_t area_size) {
  const void* zero = std::memchr(area, 0, area_size);
  const size_t before_zero =
      zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - area) : area_size;
  if (before_zero < 2) return "";
  return std::string(reinterpret_cast<const char*>(area) + 2, before_zero - 2);
}

// ---------------------------------------------------------------------------------------
// The main window

TForm1::TForm1()
    : vcl::TForm(kTForm1Resource),
      Button1(FindButton("Button1")),
      title(FindLabel("title")),
      Panel1(FindPanel("Panel1")),
      Panel2(FindPanel("Panel2")),
      Panel3(FindPanel("Panel3")),
      Panel4(FindPanel("Panel4")),
      Panel5(FindPanel("Panel5")),
      Panel6(FindPanel("Panel6")),
      Panel7(FindPanel("Panel7")),
      Panel8(FindPanel("Panel8")),
      Panel9(FindPanel("Panel9")),
      Panel10(FindPanel("Panel10")),
      Panel11(FindPanel("Panel11")),
      Label1(FindLabel("Label1")),
      RunTime(&LocalNow) {
  Button1->OnClick = [this](vcl::TObject* sender) { Button1Click(sender); };
}

vcl::TPanel* TForm1::Lamp(int n) const {
  vcl::TPanel* const lamps[] = {Panel1, Panel2, Panel3, Panel4,  Panel5, Panel6,
                                Panel7, Panel8, Panel9, Panel10, Panel11};
  return lamps[n - 1];
}

void TForm1::ShowStatus(vcl::TColor color, const char* text) {
  Form1->SetColor(color);
  Label1->SetColor(color);
  Label1->SetCaption(text);
}

void TForm1::ShowReady() {
  Form1->Show();
  Button1->SetEnabled(true);
  title->SetVisible(true);
  for (int n = 1; n <= 11; ++n) Lamp(n)->SetColor(clSilver);
}

void TForm1::FormCreate(vcl::TObject*) {
  GetPrivateProfileString("SECTION", "Binary", "NULL", ImagePath, sizeof ImagePath, kSettingsFile);
  const int32_t expected = GetPrivateProfileInt("SECTION", "ChecksumBin", 0, kSettingsFile);

  std::FILE* image = OpenImage();
  if (image == nullptr) {
    MessageBoxA(nullptr, "Cannot open the file", "Error", MB_OKCANCEL);
    Button1->SetEnabled(false);
    return;
  }
  std::fseek(image, 0, SEEK_END);
  const long length = std::ftell(image);
  std::fseek(image, 0, SEEK_SET);

  unsigned checksum = 0;
  long read_total = 0;
  unsigned char chunk[65536];
  while (read_total < length) {
    const size_t want = static_cast<size_t>(length - read_total) < sizeof chunk
                            ? length - read_total
                            : sizeof chunk;
    const size_t got = std::fread(chunk, 1, want, image);
    for (size_t i = 0; i < got; ++i) checksum ^= chunk[i];
    read_total += static_cast<long>(got);
    if (got != want) break;
  }
  // An image that cannot be read to its end fails the check like a wrong checksum.
  if (length < 0 || read_total != length || static_cast<int32_t>(checksum) != expected) {
    vcl::Application->MessageBox("Software Initialisation error !!!", "Updater",
                                 MB_OK | MB_ICONEXCLAMATION);
    std::fclose(image);
    Button1->SetEnabled(false);
    return;
  }
  std::fclose(image);
  ShowStatus(clBlue, "READY");
  ShowReady();
}

int TForm1::DownloadImage() {
  std::FILE* image = OpenImage();
  if (image == nullptr) {
    MessageBoxA(nullptr, "Cannot open the file", "Error", MB_OKCANCEL);
    return kImageFailed;
  }
  Panel2->SetColor(clLime);
  Form1->Update();

  std::fseek(image, 0, SEEK_END);
  const long size = std::ftell(image);
  std::fseek(image, 0, SEEK_SET);
  // Shorter than one block, or beyond what the block count can hold: refused before any
  // block is sent.
  if (size < static_cast<long>(kBlockBytes) || static_cast<unsigned long>(size) > UINT32_MAX) {
    std::fclose(image);
    return kImageFailed;
  }
  const uint32_t S = static_cast<uint32_t>(size);

  testprod::ModuleFrame frame;
  uint8_t area[kLargestBuffer];
  // Builds, sends and checks one block of n bytes already in area; false ends the download.
  auto send_block = [&](uint8_t position, uint32_t n) {
    std::memset(frame, 0, sizeof frame);
    const uint8_t header[] = {
        testprod::kNad,   testprod::kPcb,          static_cast<uint8_t>(n + 5),
        testprod::kClass, testprod::kInsLoadImage, 0x00,
        position,         static_cast<uint8_t>(n)};
    std::memcpy(frame, header, sizeof header);
    std::memcpy(frame + sizeof header, area, n);
    testprod::SetLrc(frame);
    uint32_t length = n + 9;
    testprod::OrderModuleHook(frame, &length);
    return frame[3] == 0x90 && frame[4] == 0x00;
  };
  // Reads n bytes into area; a short read ends the download instead of sending stale bytes.
  auto read_block = [&](uint32_t n) { return std::fread(area, 1, n, image) == n; };
  auto fail = [&] {
    std::fclose(image);
    return kImageFailed;
  };

  if (!read_block(kBlockBytes) || !send_block(0x01, kBlockBytes)) return fail();
  const uint32_t k = S / kBlockBytes;
  for (uint32_t j = 0; j + 1 < k; ++j) {
    if (!read_block(kBlockBytes) || !send_block(0x00, kBlockBytes)) return fail();
    if (const int lamp = ThresholdLamp(j)) {
      Lamp(lamp)->SetColor(clLime);
      Form1->Update();
    }
  }
  for (int n = 3; n <= 10; ++n) Lamp(n)->SetColor(clLime);
  Form1->Update();

  const long position = std::ftell(image);
  if (position < 0 || position > size) return fail();
  const uint32_t r = S - static_cast<uint32_t>(position);
  if (r >= kBlockBytes) return fail();
  if (!read_block(r) || !send_block(0x02, r)) return fail();
  Panel11->SetColor(clLime);
  Form1->Update();
  std::fclose(image);
  return kImageLoaded;
}

void TForm1::Button1Click(vcl::TObject*) {
  Button1->SetEnabled(false);
  ShowStatus(clBlue, "WORKING");
  Form1->Update();
  Panel1->SetColor(clLime);
  Form1->Update();

  uint32_t agreed = 0;
  const uint8_t reset = Init_Module(kLargestBuffer, &agreed);
  // A module that cannot take a full 128-byte block frame cannot be customized.
  if (reset != 0 || agreed < kLargestBuffer) {
    ShowStatus(clRed, "RESET NOK");
    ShowReady();
    return;
  }
  Panel2->SetColor(clLime);
  Form1->Update();

  const std::tm when = RunTime();
  SerialState serial;
  const AllocateResult allocated = AllocateSerial(when, &serial);
  if (allocated != AllocateResult::kAllocated) {
    // No number could be taken: the module is not touched.
    if (allocated == AllocateResult::kCounterNotWritten) ReportBox();
    ShowStatus(clRed, "WRITE NOK");
    ShowReady();
    return;
  }

  uint8_t identity[kIdentityArea] = {};
  const int read = testprod::ReadIdentity(identity, sizeof identity);
  if (read == testprod::kIdentityReadFailed) {
    // Nothing is known of the module's identity: never overwrite it on a failed read.
    serial.record.reset();
    ReleaseSerial(serial.taken);
    ShowStatus(clRed, "WRITE NOK");
    ShowReady();
    return;
  }

  const uint8_t identity_flag = static_cast<uint8_t>(read & 0xFF);
  if (identity_flag != 0) {
    serial.record.reset();
    ReleaseSerial(serial.taken);
    const std::string own = OwnSerial(identity, sizeof identity);
    if (!AppendReportLine(serial.site, serial.pc, when, own.c_str())) ReportBox();
  } else {
    const uint8_t written = testprod::WriteIdentity(serial.record.get(), serial.record_length);
    serial.record.reset();
    if (written != 0) {
      ShowStatus(clRed, "WRITE NOK");
      ReleaseSerial(serial.taken);
      ShowReady();
      return;
    }
    // The module holds this serial now: its number stays used up even without a report line.
    if (!AppendReportLine(serial.site, serial.pc, when, serial.SerialNumber)) ReportBox();
  }

  if (DownloadImage() == kImageFailed) {
    ShowStatus(clRed, "UPDATE NOK");
  } else {
    ShowStatus(clGreen, "MODULE OK");
  }
  ShowReady();
}
