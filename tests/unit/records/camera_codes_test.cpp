// The camera codes on the wire both ways: whatever step the box sends (as a
// viewer, the RC steppers or the joysticks ask for it), the camera's settings
// message carrying that code back is read as the same step.
#include "records/camera_codes.h"

#include "camera_fixture.h"
#include "command_test_support.h"
#include "operations/exposure_focus.h"

namespace {

class CameraCodesOnTheWire : public CameraLinkTest {
 protected:
  void SetUp() override {
    CameraLinkTest::SetUp();
    testing::internal::CaptureStderr();
  }
  void TearDown() override {
    testing::internal::GetCapturedStderr();
    CameraLinkTest::TearDown();
  }
  // The payload of the one frame the last call sent.
  std::vector<uint8_t> SentPayload() {
    auto frames = commands_test::FramesSoFar(camera_);
    if (frames.size() != 1) {
      ADD_FAILURE() << frames.size() << " frames";
      return {};
    }
    return frames[0].payload;
  }
  void CameraReports(std::initializer_list<std::pair<size_t, uint8_t>> bytes) { Feed(CameraMessage(85, bytes)); }
};

TEST_F(CameraCodesOnTheWire, EveryStepReadsBackAsItself) {
  for (int i = 0; i < kShutterStepCount; ++i) {
    SCOPED_TRACE(kShutterSteps[i].name);
    SetShutter(kShutterSteps[i].name);
    const std::vector<uint8_t> p = SentPayload();
    ASSERT_EQ(p.size(), 4u);
    CameraReports({{13, p[1]}, {14, p[2]}, {15, p[3]}});
    EXPECT_EQ(GetLinkState()->shutter_index, i);
  }
  for (int i = 0; i < kApertureStepCount; ++i) {
    SCOPED_TRACE(kApertureHundredths[i]);
    // The f-number goes out as a float times 100: a truncation must not lose a hundredth.
    SetAperture(ApertureOf(i));
    const std::vector<uint8_t> p = SentPayload();
    ASSERT_EQ(p.size(), 2u);
    CameraReports({{49, p[0]}, {50, p[1]}});
    EXPECT_EQ(GetLinkState()->aperture_index, i);
  }
  for (const EvStep& step : kEvSteps) {
    SCOPED_TRACE(static_cast<int>(step.tenths));
    SetExposureCompensation(EvOf(step));
    const std::vector<uint8_t> p = SentPayload();
    ASSERT_EQ(p.size(), 1u);
    CameraReports({{17, p[0]}});
    EXPECT_EQ(GetHudState()->exposure_compensation, step.tenths);
    EXPECT_EQ(EvCodeOfTenths(step.tenths), p[0]);
  }
}

TEST(CameraCodes, CodesOutsideTheTablesAreNoStep) {
  EXPECT_EQ(EvTenthsOfCode(kFirstEvCode - 1), 0);
  EXPECT_EQ(EvTenthsOfCode(kFirstEvCode + kEvStepCount), 0);
  EXPECT_EQ(EvCodeOfTenths(5), 0);
  EXPECT_EQ(FindEvStep(0.66), nullptr);
  EXPECT_EQ(ShutterIndexOfCode(0x8065), -1);
  EXPECT_EQ(ShutterIndexOfCode(0), -1);
  EXPECT_EQ(ShutterIndexOfName("1/8000"), -1);
  EXPECT_EQ(ApertureIndexOfHundredths(171), -1);
  EXPECT_EQ(IsoCodeOf(12800), 0x00);
  EXPECT_EQ(VideoSizeCode(1920, 720), 0);
  EXPECT_EQ(VideoRateCode(29), 0);
}

}  // namespace
