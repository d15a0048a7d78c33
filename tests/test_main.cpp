// The entry of every test program run under Wine. gtest starts a watcher thread the first time a thread touches its
// per-thread data (a scoped trace, a failure); a program that ends while that thread is still starting can crash in
// Wine's process exit. Touching the data here starts the main thread's watcher long before the end.
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    {
        SCOPED_TRACE("start");
    }
    return RUN_ALL_TESTS();
}
