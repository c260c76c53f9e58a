// idle_frame_test.cpp - an idle frame allocates nothing: every heap allocation of this test
// program is counted while the launcher's whole frame (pumpFrame, drawFrame) runs on
// screens whose atlases are already built.
#include "screens/screen_test_support.h"

#include "app/frame.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

// The sanitizers bring their own operator new; replacing it there would mix their
// allocations with plain free, so the count is taken in the plain build only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MORLAKEN_COUNT_ALLOCATIONS 0
#else
#define MORLAKEN_COUNT_ALLOCATIONS 1
#endif

namespace {

using enum UpdateState;
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

} // namespace

// Every new and new[] of the program comes here (the library's array and sized forms call
// it); the library's deletes free what malloc gave.
#if MORLAKEN_COUNT_ALLOCATIONS
void* operator new(std::size_t n) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
#endif

namespace {

using IdleFrame = screentest::ScreenTest;

TEST_F(IdleFrame, AllocatesNothing) {
    if (!MORLAKEN_COUNT_ALLOCATIONS)
        GTEST_SKIP() << "allocations are counted in the build without sanitizers";
    l().news.items = {
        {"Etkinlik", "Ejder Uyanıyor", "g"}, {"Yama", "Sürüm notları", "g"}, {"Duyuru", "Çift deneyim", ""}};
    UpdateStatus& st = l().update;
    {
        std::lock_guard<std::mutex> lock(st.statusMutex);
        st.serverVersion = "0.1.0-uzun-bir-surum-metni"; // longer than any small-string buffer
    }
    // The counter itself works: a long string counts.
    gCounting = true;
    std::string* volatile probe = new std::string(100, 'x');
    delete probe;
    gCounting = false;
    ASSERT_GE(gAllocations.load(), 2);

    // Each screen: the main screen in three update states, the login dialog with a name and
    // a masked password typed, and a message with a wrapped text over it.
    st.filesTotal = 300;
    st.filesDone = 42;
    st.bytesTotal = 400000000;
    st.bytesDone = 123456789;
    st.bytesFetched = 123456789;
    for (int i = 0; i < 5; ++i) {
        st.state = i == 0 ? Downloading : i == 1 ? Failed : UpToDate;
        if (i == 3) {
            dialog().username.text = "arda";
            dialog().password.text = "gizli-şifre";
            openLoginDialog(l().screens.state, dialog(), l().ui, false);
        }
        if (i == 4) showError(message(), "Güncelleme dosyası indirilemedi (sunucuya ulasilamadi).");
        moveMouse(600, 426); // hovering the status line and nothing else
        frame();             // builds the atlases this screen uses
        frame();
        gAllocations = 0;
        gCounting = true;
        const bool drawn = pumpFrame(l());
        drawFrame(l(), WindowMetrics{600, 426});
        gCounting = false;
        EXPECT_TRUE(drawn);
        EXPECT_EQ(gAllocations.load(), 0) << "scene " << i;
    }
}

} // namespace
