// The main window as built from its form resource, and start-up with its image check.
#include <QFont>
#include <QFrame>
#include <QWidget>

#include "station_fixture.h"
#include "vcl.h"

namespace station_test {
namespace {

using vcl::clBlue;
using vcl::clSilver;

class WindowTest : public StationTest {};

TEST_F(WindowTest, BuiltFromTheFormResourceAsDesigned) {
  PrepareStation();
  Start();
  EXPECT_EQ(Form1->Caption(), "DA Vureva : Osmire test V1.6");
  EXPECT_EQ(Form1->Left(), 321);
  EXPECT_EQ(Form1->Top(), 187);
  EXPECT_EQ(Form1->Width(), 673);
  EXPECT_EQ(Form1->Height(), 381);
  struct Box {
    vcl::TControl* control;
    int left, top, width, height;
  };
  const Box boxes[] = {{Form1->Button1, 142, 132, 375, 60}};
  for (const Box& b : boxes) {
    EXPECT_EQ(b.control->Left(), b.left);
    EXPECT_EQ(b.control->Top(), b.top);
    EXPECT_EQ(b.control->Width(), b.width);
    EXPECT_EQ(b.control->Height(), b.height);
  }
  EXPECT_EQ(Form1->Button1->Caption(), "START");
  EXPECT_EQ(Form1->title->Caption(), "CUSTOMIZATION");
  // Labels size themselves to their text from fixed left and top edges.
  EXPECT_EQ(Form1->title->Left(), 191);
  EXPECT_EQ(Form1->title->Top(), 60);
  EXPECT_EQ(Form1->Label1->Left(), 295);
  EXPECT_EQ(Form1->Label1->Top(), 276);
  for (int n = 1; n <= 11; ++n) {
    vcl::TPanel* lamp = Form1->Lamp(n);
    EXPECT_EQ(lamp->Left(), 152 + 32 * (n - 1)) << n;
    EXPECT_EQ(lamp->Top(), 224);
    EXPECT_EQ(lamp->Width(), 33);
    EXPECT_EQ(lamp->Height(), 25);
    if (n < 11) {
      // One pixel column shared with the right-hand neighbour.
      EXPECT_EQ(lamp->Left() + lamp->Width() - 1, Form1->Lamp(n + 1)->Left()) << n;
    }
    auto* frame = static_cast<QFrame*>(lamp->Widget());
    EXPECT_EQ(frame->frameShape(), QFrame::Panel);
    EXPECT_EQ(frame->frameShadow(), QFrame::Raised);
    EXPECT_EQ(frame->lineWidth(), 1);
    EXPECT_EQ(frame->focusPolicy(), Qt::NoFocus);
  }
  EXPECT_EQ(Form1->Lamp(11)->Left(), 472);
  // Fonts: character heights in pixels, bold and underlined heading.
  EXPECT_EQ(Form1->Widget()->font().pixelSize(), 14);
  EXPECT_EQ(Form1->Button1->Widget()->font().pixelSize(), 14);
  const QFont heading = Form1->title->Widget()->font();
  EXPECT_EQ(heading.pixelSize(), 28);
  EXPECT_TRUE(heading.bold());
  EXPECT_TRUE(heading.underline());
  EXPECT_EQ(Form1->Label1->Widget()->font().pixelSize(), 23);
  EXPECT_EQ(Form1->Label1->Widget()->font().family(), "MS Sans Serif");
  // Only START takes the focus.
  EXPECT_EQ(Form1->Button1->Widget()->focusPolicy(), Qt::StrongFocus);
  // The status label is opaque and draws in the window-text colour.
  EXPECT_TRUE(Form1->Label1->Widget()->autoFillBackground());
  EXPECT_EQ(Form1->Label1->Widget()->palette().color(QPalette::WindowText),
            Form1->Widget()->palette().color(QPalette::WindowText));
}

struct StartupCase {
  const char* name;
  const char* settings;  // "" for no settings file
  std::vector<uint8_t> image;
  const char* image_name;
  bool passes;
  const char* box_text;
  const char* box_caption;
  unsigned box_flags;
  bool application_box;
};

void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.name; }

class Startup : public StationTest, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(Startup, ShowsTheOutcomeOfTheImageCheck) {
  const StartupCase& c = GetParam();
  if (c.settings[0] != '\0') WriteSettings(c.settings);
  if (c.image_name[0] != '\0') WriteImage(c.image, c.image_name);
  Start();
  if (c.passes) {
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Form1->Color(), clBlue);
    EXPECT_TRUE(Form1->Button1->Enabled());
    EXPECT_TRUE(Form1->Visible());
    EXPECT_TRUE(Form1->title->Visible());
    for (int n = 1; n <= 11; ++n) EXPECT_EQ(Form1->Lamp(n)->Color(), clSilver) << n;
  } else {
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, c.box_text);
    EXPECT_EQ(boxes_[0].caption, c.box_caption);
    EXPECT_EQ(boxes_[0].flags, c.box_flags);
    EXPECT_EQ(boxes_[0].application_owned, c.application_box);
    EXPECT_EQ(Form1->Color(), clSilver);
    EXPECT_FALSE(Form1->Button1->Enabled());
    EXPECT_FALSE(Form1->Visible());  // shown only when the event loop starts
    // Pressing START does nothing: the button stays disabled for good.
    PressStart();
    EXPECT_FALSE(Form1->Button1->Enabled());
    EXPECT_EQ(Form1->Label1->Caption(), "READY");
  }
  EXPECT_EQ(Form1->Label1->Caption(), "READY");
  EXPECT_EQ(Form1->Label1->Color(), clBlue);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Startup,
    ::testing::Values(
        StartupCase{"NoSettingsFile",
                    "",
                    {},
                    "",
                    false,
                    "Cannot open the file",
                    "Error",
                    platform::MB_OKCANCEL,
                    false},
        // With no settings the path is "NULL"; a file of that name in the current folder is
        // opened, and its bytes must XOR to the default 0.
        StartupCase{"NoSettingsButFileNamedNull", "", {0x5A, 0x5A}, "NULL", true, "", "", 0, false},
        StartupCase{"BinaryNamesAFolder",
                    "[SECTION]\nBinary=config\nChecksumBin=0\n",
                    {},
                    "",
                    false,
                    "Cannot open the file",
                    "Error",
                    platform::MB_OKCANCEL,
                    false},
        StartupCase{"EmptyBinary",
                    "[SECTION]\nBinary=\nChecksumBin=0\n",
                    {},
                    "",
                    false,
                    "Cannot open the file",
                    "Error",
                    platform::MB_OKCANCEL,
                    false},
        StartupCase{
            "SixtyCharacterBinaryIsCutTo49",
            "[SECTION]\nBinary=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaXXXXXXXXXXX\n"
            "ChecksumBin=112\n",
            {0x12, 0x34, 0x56},
            "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
            true,
            "",
            "",
            0,
            false},
        StartupCase{"MissingChecksumWithEmptyImage",
                    "[SECTION]\nBinary=fw.bin\n",
                    {},
                    "fw.bin",
                    true,
                    "",
                    "",
                    0,
                    false},
        StartupCase{"MissingChecksumWithNonZeroImage",
                    "[SECTION]\nBinary=fw.bin\n",
                    {0x01},
                    "fw.bin",
                    false,
                    "Software Initialisation error !!!",
                    "Updater",
                    platform::MB_OK | platform::MB_ICONEXCLAMATION,
                    true},
        StartupCase{"Checksum256NeverPasses",
                    "[SECTION]\nBinary=fw.bin\nChecksumBin=256\n",
                    {0x12, 0x34, 0x56},
                    "fw.bin",
                    false,
                    "Software Initialisation error !!!",
                    "Updater",
                    platform::MB_OK | platform::MB_ICONEXCLAMATION,
                    true},
        StartupCase{"Image123456With112",
                    "[SECTION]\nBinary=fw.bin\nChecksumBin=112\n",
                    {0x12, 0x34, 0x56},
                    "fw.bin",
                    true,
                    "",
                    "",
                    0,
                    false},
        StartupCase{"Image123456With113",
                    "[SECTION]\nBinary=fw.bin\nChecksumBin=113\n",
                    {0x12, 0x34, 0x56},
                    "fw.bin",
                    false,
                    "Software Initialisation error !!!",
                    "Updater",
                    platform::MB_OK | platform::MB_ICONEXCLAMATION,
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, ImagePathHoldsAtMost49Characters) {
  WriteSettings("[SECTION]\nBinary=" + std::string(60, 'b') + "\n");
  Start();
  EXPECT_EQ(std::string(ImagePath), std::string(49, 'b'));
}

TEST_F(WindowTest, ShowReadyTwiceChangesNothing) {
  PrepareStation();
  Start();
  auto state = [] {
    std::vector<uint32_t> s{Form1->Color(), Form1->Label1->Color(), Form1->Button1->Enabled(),
                            Form1->title->Visible(), Form1->Visible()};
    for (int n = 1; n <= 11; ++n) s.push_back(Form1->Lamp(n)->Color());
    return std::make_pair(s, Form1->Label1->Caption());
  };
  const auto once = state();
  Form1->ShowReady();
  EXPECT_EQ(state(), once);
}

TEST_F(WindowTest, AnExceptionEscapingAHandlerIsShownAndTheProgramGoesOn) {
  PrepareStation();
  Start();
  Form1->Button1->OnClick = [](vcl::TObject*) { throw vcl::Exception("disk on fire"); };
  PressStart();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "disk on fire");
  EXPECT_TRUE(boxes_[0].application_owned);
}

}  // namespace
}  // namespace station_test
