// Linked into the test programs that switch the display to full screen: when the program's tests are over, the
// display must be in the mode it had when the program started (the harness's mode, or for a helper copy that a test
// starts meanwhile, the mode its starter has), so that a program that leaves the display wrong fails itself, not the
// programs after it. Main thread only.
#include <gtest/gtest.h>

#include <windows.h>

namespace
{

void ReadDisplaySize(unsigned long *width, unsigned long *height)
{
    DEVMODEA mode = {};
    mode.dmSize = sizeof mode;
    EnumDisplaySettingsA(NULL, ENUM_CURRENT_SETTINGS, &mode);
    *width = mode.dmPelsWidth;
    *height = mode.dmPelsHeight;
}

class DisplayModeKept : public testing::Environment
{
  public:
    void SetUp() override
    {
        ReadDisplaySize(&m_Width, &m_Height);
    }

    void TearDown() override
    {
        unsigned long width, height;
        ReadDisplaySize(&width, &height);
        EXPECT_TRUE(width == m_Width && height == m_Height)
            << "the display was left at " << width << "x" << height << ", not at " << m_Width << "x" << m_Height;
    }

  private:
    unsigned long m_Width = 0, m_Height = 0;
};

testing::Environment *const s_DisplayModeKept = testing::AddGlobalTestEnvironment(new DisplayModeKept);

} // namespace
