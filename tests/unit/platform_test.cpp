#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

#include "platform/counter_source.h"
#include "platform/wininet_url_fetcher.h"

namespace tarnwick {
namespace {

TEST(UniqueHandle, ClosesOnResetAndHandsOverOnMove) {
  unique_handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  HANDLE raw = event.get();
  unique_handle moved(std::move(event));
  EXPECT_FALSE(event);  // NOLINT(bugprone-use-after-move): a moved-from handle is empty
  EXPECT_EQ(moved.get(), raw);
  moved.reset();
  DWORD flags = 0;
  EXPECT_FALSE(::GetHandleInformation(raw, &flags)) << "the handle should be closed";
}

TEST(UniqueHandle, FileHandlesTreatInvalidHandleValueAsEmpty) {
  unique_hfile file(::CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(file);
  EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
}

// The real counter source on this system. Under Wine PDH knows no
// per-processor counter, which is why the kernel's processor times stand in.
TEST(Win32CounterSource, OpensAQueryAndReportsEveryProcessorsTimes) {
  CounterSource& source = Win32CounterSource();
  CounterQuery query(source);
  ASSERT_TRUE(source.OpenQuery(*query.put()));
  PDH_HCOUNTER total = nullptr;
  ASSERT_TRUE(source.AddEnglishCounter(query.get(), L"\\Processor(_Total)\\% Processor Time", total));
  Counter owned(source, total);
  EXPECT_TRUE(source.CollectQueryData(query.get()));
  long value = 0;
  EXPECT_FALSE(source.GetFormattedLongValue(nullptr, value)) << "a null counter has no value";

  std::array<ProcessorTimes, 64> first{}, second{};
  const size_t processors = source.QueryProcessorTimes(0, first);
  EXPECT_EQ(processors, ::GetActiveProcessorCount(0));
  for (size_t i = 0; i < processors; ++i) EXPECT_GE(first[i].kernel, first[i].idle) << "kernel time includes idle";
  // A shorter span gets as many entries as it holds.
  EXPECT_EQ(source.QueryProcessorTimes(0, std::span(second).first(1)), 1u);
  ASSERT_EQ(source.QueryProcessorTimes(0, second), processors);
  EXPECT_GE(second[0].kernel + second[0].user, first[0].kernel + first[0].user);

  // A group this machine lacks has no times, however ntdll is asked (under
  // Wine the grouped query is not implemented and the plain one answers for
  // this thread's group 0 only).
  if (::GetActiveProcessorGroupCount() == 1) {
    EXPECT_EQ(source.QueryProcessorTimes(1, second), 0u);
  }
}

TEST(WinInetUrlFetcher, FollowsOnlyRedirectsThatStayOnTheHostOverHttps) {
  const std::wstring from = L"https://updates.example:8443/files/TarnwickSetup.exe";
  struct Case {
    const wchar_t* location;
    std::optional<std::wstring> target;
  };
  const Case cases[] = {
      {L"/files/beta/TarnwickSetup.exe", L"https://updates.example:8443/files/beta/TarnwickSetup.exe"},
      {L"https://UPDATES.example:8443/x", L"https://UPDATES.example:8443/x"},
      {L"https://updates.example.evil:8443/x", std::nullopt},
      {L"https://evil.example:8443/files/TarnwickSetup.exe", std::nullopt},
      {L"https://updates.example/files/TarnwickSetup.exe", std::nullopt},
      {L"http://updates.example:8443/files/TarnwickSetup.exe", std::nullopt},
      {L"//evil.example/files/TarnwickSetup.exe", std::nullopt},
      {L"ftp://updates.example:8443/x", std::nullopt},
      {L"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameHostRedirect(from, c.location), c.target) << testing::PrintToString(std::wstring(c.location));
  }
}

}  // namespace
}  // namespace tarnwick
