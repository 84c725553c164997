// The update logic against scripted server answers: the version file's
// rules, the checker's loop, the channel URLs, the signature texts and the
// download's size rule. The program's string table is linked in.
#include "tests/fakes/fake_program_starter.h"
#include "tests/fakes/fake_url_fetcher.h"
#include "tests/fakes/recording_diagnostics.h"
#include "tests/support/scratch_registry.h"
#include "res/resource.h"
#include "ui/download_dialog.h"
#include "update/background_fetch.h"
#include "update/update_check.h"
#include "update/update_download.h"
#include "update/update_endpoints.h"
#include "update/version.h"
#include "platform/wininet_url_fetcher.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarnwick {
namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;

// A revocation check that lets every signer through.
const RevocationCheck kNothingRevoked = [](const std::shared_ptr<const SignerCertificates>&) {
  return RevocationStatus::NotRevoked;
};

// Both halves of an update's launch on this thread, as the download dialog
// runs them on its two threads.
bool LaunchDownloadedUpdate(std::span<const std::byte> installerBytes, uint32_t announcedVersion,
                            ProgramStarter& starter, HWND owner, const RevocationCheck& checkRevocation) {
  const auto prepared = PrepareInstaller(installerBytes, announcedVersion, starter.IsElevated(), checkRevocation);
  return StartPreparedInstaller(*prepared, owner, starter);
}

struct UniqueEvent {
  unique_handle handle{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

// The versions announced by the first check of the checker's loop. The
// second check's start sets the quit event, which ends the loop (and that
// check) at once.
std::vector<uint32_t> AnnouncementsOfOneCheck(const std::shared_ptr<FakeUrlFetcher>& fetcher, bool beta = false) {
  UniqueEvent quit;
  std::vector<uint32_t> announced;
  std::vector<uint32_t> firstCheck;
  int checks = 0;
  RunUpdateChecks(
      fetcher, quit.handle.get(), 0,
      [&] {
        if (++checks == 2) {
          firstCheck = announced;
          ::SetEvent(quit.handle.get());
        }
        return beta;
      },
      [&announced](uint32_t version) { announced.push_back(version); });
  return firstCheck;
}

TEST(VersionFile, RulesDecideTheVersionTextAndTheAnnouncement) {
  struct Case {
    std::string body;
    std::wstring version;
    bool announced;
  };
  const Case cases[] = {
      {"1.2.2.5\r\nombrix_updatevalidsig", L"1.2.2.5", true},
      {"1.2.2.4\nombrix_updatevalidsig", L"1.2.2.4", false},
      {"1.2.2.3\nombrix_updatevalidsig", L"1.2.2.3", false},
      {"1.2.2.5\rombrix_updatevalidsig\r\n", L"1.2.2.5", true},
      {"\xEF\xBB\xBF"
       "1.2.2.5\nombrix_updatevalidsig",
       L"1.2.2.5", true},
      {"255.255.255.255\nombrix_updatevalidsig", L"255.255.255.255", true},
      {"001.002.002.005\nombrix_updatevalidsig", L"001.002.002.005", true},
      // No line break, no marker, a marker in other letter case.
      {"1.3.0.0 ombrix_updatevalidsig", L"", false},
      {"1.3.0.0\n", L"", false},
      {"1.3.0.0\nOMBRIX_UPDATEVALIDSIG", L"", false},
      // Only four fields of digits, each 0-255: a sign, a space, a missing
      // or fifth field or a large one would order wrongly (a minus read by
      // the packing wraps to a huge number that stays "newer" for ever).
      {"-1.2.2.4\nombrix_updatevalidsig", L"", false},
      {"+1.2.2.5\nombrix_updatevalidsig", L"", false},
      {"1.2.2.5 \nombrix_updatevalidsig", L"", false},
      {" 1.2.2.5\nombrix_updatevalidsig", L"", false},
      {"1.2.2.5 \xC3\xA9t\xC3\xA9\nombrix_updatevalidsig", L"", false},
      {"2.0\nombrix_updatevalidsig", L"", false},
      {"1.2.2\nombrix_updatevalidsig", L"", false},
      {"1.2.2.5.1\nombrix_updatevalidsig", L"", false},
      {"1.2..5\nombrix_updatevalidsig", L"", false},
      {"1.2.300.0\nombrix_updatevalidsig", L"", false},
      {"1.2.2.256\nombrix_updatevalidsig", L"", false},
      {"1.2.2.0x5\nombrix_updatevalidsig", L"", false},
      {"1.2.2.99999999999999999999\nombrix_updatevalidsig", L"", false},
      // A byte-order mark only at the very start, and only the UTF-8 one.
      {"\xEF\xBB\xBF\xEF\xBB\xBF"
       "1.2.2.5\nombrix_updatevalidsig",
       L"", false},
      {"\xFF\xFE"
       "1.2.2.5\nombrix_updatevalidsig",
       L"", false},
      // The text ends at the first NUL byte.
      {"1.2.2.5\n\0ombrix_updatevalidsig"s, L"", false},
      {"1.2.2.5\nombrix_updatevalidsig\0garbage"s, L"1.2.2.5", true},
      {"\0"
       "1.2.2.5\nombrix_updatevalidsig"s,
       L"", false},
      {"latest\nombrix_updatevalidsig", L"", false},
      {"\n1.2.2.5 ombrix_updatevalidsig", L"", false},
      {"", L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.body));
    const auto fetcher = std::make_shared<FakeUrlFetcher>();
    fetcher->Answer(VersionFileUrl(false), c.body);
    EXPECT_EQ(FetchLatestVersion(fetcher, false, nullptr), c.version);
    EXPECT_EQ(AnnouncementsOfOneCheck(fetcher).size(), c.announced ? 1u : 0u);
  }
}

TEST(VersionFile, TheAnnouncementCarriesThePackedVersion) {
  const auto fetcher = std::make_shared<FakeUrlFetcher>();
  fetcher->Answer(VersionFileUrl(false), "1.3.0.7\nombrix_updatevalidsig");
  EXPECT_EQ(AnnouncementsOfOneCheck(fetcher), std::vector<uint32_t>{0x01030007u});
}

TEST(VersionFile, IsDecodedAsUtf8AndAskedForWithItsSizeCap) {
  const auto fetcher = std::make_shared<FakeUrlFetcher>();
  fetcher->Answer(VersionFileUrl(false), "1.2.2.5\n\xC3\xA9t\xC3\xA9 ombrix_updatevalidsig");
  EXPECT_EQ(FetchLatestVersion(fetcher, false, nullptr), L"1.2.2.5");
  ASSERT_EQ(fetcher->Requests().size(), 1u);
  EXPECT_EQ(fetcher->Requests()[0].maxBytes, 64u * 1024);
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide("\xFF"), L"\uFFFD");
}

TEST(UpdateChannels, BetaAsksTheBetaSubdirectories) {
  const std::wstring versionUrl = VersionFileUrl(false);
  EXPECT_TRUE(versionUrl.starts_with(L"https://"));
  EXPECT_TRUE(versionUrl.ends_with(L"/versioninfo/tarnwick/"));
  EXPECT_EQ(VersionFileUrl(true), versionUrl + L"beta/");
  const std::wstring installerUrl = InstallerUrl(false);
  EXPECT_TRUE(installerUrl.ends_with(L"/files/TarnwickSetup.exe"));
  EXPECT_EQ(InstallerUrl(true), installerUrl.substr(0, installerUrl.size() - 17) + L"beta/TarnwickSetup.exe");

  for (const bool beta : {true, false}) {
    const auto fetcher = std::make_shared<FakeUrlFetcher>();
    fetcher->Answer(VersionFileUrl(true), "1.2.2.5\nombrix_updatevalidsig");
    EXPECT_EQ(AnnouncementsOfOneCheck(fetcher, beta).size(), beta ? 1u : 0u);
    ASSERT_FALSE(fetcher->Requests().empty());
    EXPECT_EQ(fetcher->Requests()[0].url, VersionFileUrl(beta));
  }
  EXPECT_EQ(UpdateUserAgent(), L"Tarnwick/1.2.2.4");
}

TEST(UpdateChecker, ChecksAgainAfterItsIntervalAndEndsAtOnceWhenQuitIsSet) {
  const auto fetcher = std::make_shared<FakeUrlFetcher>();
  fetcher->Answer(VersionFileUrl(false), "1.2.2.5\nombrix_updatevalidsig");
  UniqueEvent quit;
  std::atomic<int> announcements{0};
  auto checker = std::async(std::launch::async, [&] {
    RunUpdateChecks(
        fetcher, quit.handle.get(), 20, [] { return false; }, [&](uint32_t) { ++announcements; });
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (announcements < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  EXPECT_GE(announcements.load(), 3) << "a check after every interval";

  // Asleep for a day: the quit event ends the wait at once.
  UniqueEvent quitDaily;
  auto daily = std::async(std::launch::async, [&] {
    RunUpdateChecks(
        fetcher, quitDaily.handle.get(), kUpdateCheckIntervalMs, [] { return false; }, [](uint32_t) {});
  });
  const auto firstCheckDeadline = std::chrono::steady_clock::now() + 10s;
  while (fetcher->Requests().size() < 4 && std::chrono::steady_clock::now() < firstCheckDeadline) {
    std::this_thread::sleep_for(5ms);
  }
  ::SetEvent(quitDaily.handle.get());
  EXPECT_EQ(daily.wait_for(10s), std::future_status::ready);
  ::SetEvent(quit.handle.get());
  EXPECT_EQ(checker.wait_for(10s), std::future_status::ready);
}

TEST(DownloadPace, TheDeadlineAndEveryWindowsMinimumEndADownload) {
  constexpr DownloadLimits kLimits{60'000, 10'000, 8192};
  struct Step {
    uint64_t atMs;
    size_t received;
    size_t expected;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    bool acceptable;  // after the last step
  };
  const Case cases[] = {
      {"fast enough in every window", {{10'000, 8192, 0}, {20'000, 16384, 0}, {59'999, 16384 + 3 * 8192, 0}}, true},
      {"the next windows one byte short", {{10'000, 8192, 0}, {59'999, 8192 + 4 * 8192 - 1, 0}}, false},
      {"a window one byte short", {{10'000, 8191, 0}}, false},
      // A trickle of a byte a second never makes a window's worth.
      {"a trickle", {{1'000, 1, 0}, {5'000, 5, 0}, {10'000, 10, 0}}, false},
      {"fast, then stalled", {{10'000, 100000, 0}, {19'999, 100000, 0}, {20'000, 100000, 0}}, false},
      // Judged when looked at: a poll late by several windows judges each.
      {"late poll, enough for every window", {{30'000, 3 * 8192, 0}}, true},
      // The last bytes of a body need not fill a window.
      {"a short rest of the body", {{10'000, 8192, 9000}, {20'000, 9000, 9000}}, true},
      {"a small body that trickles", {{10'000, 100, 300}}, false},
      {"past the deadline", {{10'000, 1 << 20, 0}, {60'001, 1 << 30, 0}}, false},
  };
  for (const Case& c : cases) {
    DownloadPace pace(kLimits, 1000);
    bool acceptable = true;
    for (const Step& step : c.steps) acceptable = pace.Acceptable(1000 + step.atMs, step.received, step.expected);
    EXPECT_EQ(acceptable, c.acceptable) << c.name;
  }
}

// A job that never ends by itself: it reports `bytesPerTick` every
// millisecond until it is cancelled.
FetchJob TricklingJob(size_t bytesPerTick, const std::shared_ptr<std::atomic<bool>>& ended) {
  return [bytesPerTick, ended](FetchControl& control) -> std::optional<std::vector<std::byte>> {
    size_t received = 0;
    while (!control.Cancelled()) {
      received += bytesPerTick;
      control.Report(received, 0);
      std::this_thread::sleep_for(1ms);
    }
    *ended = true;
    return std::nullopt;
  };
}

TEST(BackgroundFetch, EndsWithTheBodyOrGivesUpAtOnceWithoutWaitingForTheJob) {
  {
    BackgroundFetch fetch([](FetchControl&) { return std::optional(std::vector<std::byte>(3, std::byte{7})); },
                          kInstallerLimits);
    EXPECT_EQ(fetch.Wait(nullptr), BackgroundFetch::Outcome::Done);
    EXPECT_EQ(fetch.TakeBody(), std::vector<std::byte>(3, std::byte{7}));
  }
  {
    BackgroundFetch fetch([](FetchControl&) { return std::optional<std::vector<std::byte>>(); }, kInstallerLimits);
    EXPECT_EQ(fetch.Wait(nullptr), BackgroundFetch::Outcome::Failed);
    EXPECT_EQ(fetch.TakeBody(), std::nullopt);
  }
  // Cancelled: the waiter goes on at once; the job learns it and ends.
  auto ended = std::make_shared<std::atomic<bool>>(false);
  {
    BackgroundFetch fetch(TricklingJob(1 << 20, ended), kInstallerLimits);
    EXPECT_EQ(fetch.Poll(), BackgroundFetch::Outcome::Running);
    fetch.Cancel();
    EXPECT_EQ(fetch.Poll(), BackgroundFetch::Outcome::Cancelled);
    EXPECT_EQ(fetch.TakeBody(), std::nullopt);
  }
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!*ended && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(*ended) << "the job was never told to stop";

  // A set quit event ends the wait for a job that would go on for ever.
  UniqueEvent quit;
  ::SetEvent(quit.handle.get());
  auto foreverEnded = std::make_shared<std::atomic<bool>>(false);
  {
    BackgroundFetch forever(TricklingJob(1 << 20, foreverEnded), kInstallerLimits);
    EXPECT_EQ(forever.Wait(quit.handle.get()), BackgroundFetch::Outcome::Cancelled);
  }
  const auto foreverDeadline = std::chrono::steady_clock::now() + 10s;
  while (!*foreverEnded && std::chrono::steady_clock::now() < foreverDeadline) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(*foreverEnded);
}

// Jobs that end at once, many at a time from several threads, as failing
// checks do: each download ends by itself with its own body. Letting go of a
// thread that was just ending once corrupted the bookkeeping of the threads
// started after it (a lost end, a handle closed twice, a crash at exit).
TEST(BackgroundFetch, ManyJobsThatEndAtOnceEachEndWithTheirOwnBody) {
  constexpr int kStarters = 3;
  constexpr int kDownloadsEach = 1000;
  std::atomic<int> wrong{0};
  std::vector<std::future<void>> starters;
  for (int starter = 0; starter < kStarters; ++starter) {
    starters.push_back(std::async(std::launch::async, [starter, &wrong] {
      for (int download = 0; download < kDownloadsEach; ++download) {
        const std::vector<std::byte> expected{std::byte(starter), std::byte(download % 256)};
        BackgroundFetch fetch([expected](FetchControl&) { return std::optional(expected); }, kVersionFileLimits);
        if (fetch.Wait(nullptr) != BackgroundFetch::Outcome::Done || fetch.TakeBody() != expected) ++wrong;
      }
    }));
  }
  for (auto& starter : starters) starter.get();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(BackgroundFetch, ATooSlowDownloadIsGivenUpAndTold) {
  auto ended = std::make_shared<std::atomic<bool>>(false);
  // A byte a millisecond against 64 KiB in each 50 ms window.
  BackgroundFetch fetch(TricklingJob(1, ended), DownloadLimits{600'000, 50, 64 * 1024});
  EXPECT_EQ(fetch.Wait(nullptr), BackgroundFetch::Outcome::TooSlow);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!*ended && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(*ended);
}

TEST(UpdateChecker, AQuitEventEndsACheckWhoseServerNeverAnswers) {
  const auto fetcher = std::make_shared<FakeUrlFetcher>();
  fetcher->Hang(VersionFileUrl(false));
  UniqueEvent quit;
  auto checker = std::async(std::launch::async, [&] {
    RunUpdateChecks(
        fetcher, quit.handle.get(), kUpdateCheckIntervalMs, [] { return false; }, [](uint32_t) {});
  });
  const auto asked = std::chrono::steady_clock::now() + 10s;
  while (fetcher->Requests().empty() && std::chrono::steady_clock::now() < asked) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(fetcher->Requests().size(), 1u);
  ::SetEvent(quit.handle.get());
  EXPECT_EQ(checker.wait_for(10s), std::future_status::ready) << "the check waits for the server";
  // The abandoned download learns it and ends too.
  const auto ended = std::chrono::steady_clock::now() + 10s;
  while (fetcher->Hanging() != 0 && std::chrono::steady_clock::now() < ended) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(fetcher->Hanging(), 0);
}

TEST(UpdateChecker, EachCheckThatLearnsNothingIsReportedOnceWithItsCause) {
  struct Case {
    const char* name;
    std::function<void(FakeUrlFetcher&, const std::wstring& url)> script;
    std::vector<std::wstring> reported;
  };
  const Case cases[] = {
      {"no connection",
       [](FakeUrlFetcher& f, const std::wstring& url) { f.Fail(url, L"InternetOpenUrlW", 12029); },
       {L"update check failed: InternetOpenUrlW: error 12029"}},
      {"not found",
       [](FakeUrlFetcher& f, const std::wstring& url) { f.Fail(url, L"answer", 404, true); },
       {L"update check failed: answer: HTTP status 404"}},
      {"no version file",
       [](FakeUrlFetcher& f, const std::wstring& url) { f.Answer(url, "<html>captive</html>"); },
       {L"update check failed: the answer is no version file: error 13"}},
      {"failed without a cause", [](FakeUrlFetcher&, const std::wstring&) {}, {L"update check failed: no answer"}},
      {"a version",
       [](FakeUrlFetcher& f, const std::wstring& url) { f.Answer(url, "1.2.2.5\nombrix_updatevalidsig"); },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDiagnostics diagnostics;
    const auto fetcher = std::make_shared<FakeUrlFetcher>();
    c.script(*fetcher, VersionFileUrl(false));
    (void)FetchLatestVersion(fetcher, false, nullptr);
    EXPECT_EQ(diagnostics.Texts(), c.reported);
    for (const auto& event : diagnostics.Events()) EXPECT_EQ(event.level, DiagnosticLevel::Warning);
  }

  // Ended by the program's end: nothing went wrong.
  RecordingDiagnostics diagnostics;
  const auto fetcher = std::make_shared<FakeUrlFetcher>();
  fetcher->Hang(VersionFileUrl(false));
  UniqueEvent quit;
  ::SetEvent(quit.handle.get());
  EXPECT_EQ(FetchLatestVersion(fetcher, false, quit.handle.get()), L"");
  EXPECT_THAT(diagnostics.Texts(), testing::IsEmpty());
  const auto ended = std::chrono::steady_clock::now() + 10s;
  while (fetcher->Hanging() != 0 && std::chrono::steady_clock::now() < ended) std::this_thread::sleep_for(1ms);
}

TEST(UpdateChecker, TheSystemFetcherGivesTheCauseOfAFailure) {
  struct Case {
    const wchar_t* url;
    const wchar_t* step;
  };
  // Port 1 of this machine: nothing listens there, the connection is refused.
  const Case cases[] = {{L"http://localhost:1/versioninfo/", L"not an https: URL"},
                        {L"https://localhost:1/versioninfo/", L"InternetOpenUrlW"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.url)));
    FetchControl control;
    EXPECT_FALSE(FetchUrlBytes(c.url, 1024, L"Tarnwick test", control));
    const FetchControl::Failure failure = control.Failed();
    ASSERT_NE(failure.step, nullptr);
    EXPECT_EQ(std::wstring(failure.step), c.step);
    EXPECT_NE(failure.code, 0u);
    EXPECT_FALSE(failure.httpStatus);
  }
}

TEST(SignatureTexts, EveryStatusHasItsReason) {
  const std::wstring errorPrefix = L"An error occurred verifying the file signature: ";
  struct Case {
    LONG status;
    DWORD lastError;
    std::wstring text;
  };
  const Case cases[] = {
      {0, 0, L"The file is signed and signature verified."},
      {TRUST_E_NOSIGNATURE, static_cast<DWORD>(TRUST_E_NOSIGNATURE), L"The file is not signed."},
      {TRUST_E_NOSIGNATURE, static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN), L"The file is not signed."},
      {TRUST_E_NOSIGNATURE, static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN), L"The file is not signed."},
      {TRUST_E_NOSIGNATURE, ERROR_ACCESS_DENIED, errorPrefix + L"5 800b0100"},
      {TRUST_E_EXPLICIT_DISTRUST, 0, L"Signature present, but specifically disallowed."},
      {TRUST_E_SUBJECT_NOT_TRUSTED, 0, L"The file is signed, but not trusted."},
      {CRYPT_E_SECURITY_SETTINGS, 0,
       L"The signature was not explicitly trusted by the admin and admin policy has disabled user trust."},
      {static_cast<LONG>(0x800B010A), 5, errorPrefix + L"5 800b010a"},
      {TRUST_E_BAD_DIGEST, 0, errorPrefix + L"0 80096010"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(static_cast<unsigned long>(c.status)));
    EXPECT_EQ(TrustResultText({c.status, c.lastError, nullptr}), c.text);
  }
  EXPECT_EQ(SignatureWarningText({static_cast<LONG>(0x800B010A), 5, nullptr}),
            L"There was an error validating the digital signature of the update package.\n\n" + errorPrefix +
                L"5 800b010a\n\nWould you like to visit Ombrix to manually download the installer?");
}

uint64_t Ticks(const FILETIME& time) { return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

// What WinVerifyTrust reports of a signer: sftVerifyAsOf is the time stamp's
// time for a time-stamped signature, the call's own time otherwise; a time
// stamp it verified is a counter-signer without error. A time is trusted
// only with such a counter-signer.
TEST(InstallerSignature, TheSigningTimeIsTheTimeStampsOnlyWithAVerifiedTimeStamp) {
  const FILETIME stamped{0x89ABCDEF, 0x01D90000};
  CRYPT_PROVIDER_SGNR timeStamp{};
  timeStamp.cbStruct = sizeof(timeStamp);
  CRYPT_PROVIDER_SGNR signer{};
  signer.cbStruct = sizeof(signer);
  signer.sftVerifyAsOf = stamped;
  EXPECT_FALSE(TrustedSigningTime(signer).has_value()) << "no time stamp: the current time";

  signer.csCounterSigners = 1;
  signer.pasCounterSigners = &timeStamp;
  const auto trusted = TrustedSigningTime(signer);
  ASSERT_TRUE(trusted.has_value());
  EXPECT_EQ(Ticks(*trusted), Ticks(stamped));

  timeStamp.dwError = static_cast<DWORD>(TRUST_E_TIME_STAMP);
  EXPECT_FALSE(TrustedSigningTime(signer).has_value()) << "a time stamp that did not verify";
  signer.pasCounterSigners = nullptr;
  EXPECT_FALSE(TrustedSigningTime(signer).has_value());
}

class InstallerDownload : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = DownloadFolder();
    ASSERT_FALSE(folder_.empty());
    path_ = folder_ + L"\\TarnwickSetup.exe";
    ::DeleteFileW(path_.c_str());
  }
  void TearDown() override {
    ::DeleteFileW(path_.c_str());
    ::DeleteFileW(other_.c_str());
    ::RemoveDirectoryW(folder_.c_str());
  }
  static std::span<const std::byte> BytesOf(const std::string& text) {
    return std::span(reinterpret_cast<const std::byte*>(text.data()), text.size());
  }
  static std::optional<std::vector<std::byte>> Bytes(const std::string& text) {
    const auto bytes = BytesOf(text);
    return std::vector<std::byte>(bytes.begin(), bytes.end());
  }
  std::wstring folder_;
  std::wstring path_;
  // Another file in the same folder.
  std::wstring other_ = DownloadFolder() + L"\\other.dat";
};

TEST_F(InstallerDownload, NoMoreThanTheSmallestSizeIsRefusedAndNothingIsWritten) {
  FakeProgramStarter starter;
  const std::string body(kInstallerMinBytes, 'M');
  EXPECT_FALSE(LaunchDownloadedUpdate(BytesOf(body), 0x01020205, starter, nullptr, kNothingRevoked));
  EXPECT_TRUE(starter.calls.empty());
  EXPECT_EQ(::GetFileAttributesW(path_.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(DownloadFolder().ends_with(L"\\ombrix"));
}

TEST_F(InstallerDownload, TheOpenedInstallerIsReadWholeAndOnlyUpToTheCap) {
  const std::string downloaded(70000, 'D');
  ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  struct Case {
    const char* name;
    std::string onDisk;
    bool holds;
  };
  std::string changedLast = downloaded;
  changedLast.back() = 'X';
  const Case cases[] = {
      {"the same bytes", downloaded, true},
      {"the last byte changed", changedLast, false},
      {"one byte short", downloaded.substr(1), false},
      {"one byte more", downloaded + "D", false},
  };
  for (const Case& c : cases) {
    {
      const unique_hfile writer(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      DWORD written = 0;
      ASSERT_TRUE(::WriteFile(writer.get(), c.onDisk.data(), static_cast<DWORD>(c.onDisk.size()), &written, nullptr));
    }
    const unique_hfile file(
        ::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    EXPECT_EQ(ReadOpenFile(file.get(), kInstallerMaxBytes) == Bytes(downloaded), c.holds) << c.name;
    if (c.holds) {
      char first = 0;
      DWORD read = 0;
      EXPECT_TRUE(::ReadFile(file.get(), &first, 1, &read, nullptr) && read == 1 && first == 'D')
          << "the check leaves the file at its start";
      // While it is open for the check, nobody can write, rename or delete it.
      EXPECT_FALSE(unique_hfile(::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr)));
      EXPECT_FALSE(::DeleteFileW(path_.c_str()));
      EXPECT_EQ(ReadOpenFile(file.get(), downloaded.size() - 1), std::nullopt) << "larger than the cap";
    }
  }
}

TEST_F(InstallerDownload, IsWrittenIntoANewFileAndNeverThroughALinkAlreadyThere) {
  ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  const std::string kept = "another program's file";
  {
    const unique_hfile other(::CreateFileW(other_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(other.get(), kept.data(), static_cast<DWORD>(kept.size()), &written, nullptr));
  }
  // Someone who may write in the folder left the installer's name as a
  // second name of another file.
  ASSERT_TRUE(::CreateHardLinkW(path_.c_str(), other_.c_str(), nullptr));

  const std::string downloaded(20000, 'N');
  EXPECT_TRUE(WriteInstaller(path_, BytesOf(downloaded)));
  const unique_hfile other(
      ::CreateFileW(other_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(other);
  EXPECT_EQ(ReadOpenFile(other.get(), kInstallerMaxBytes), Bytes(kept)) << "the other file is left as it was";
  const unique_hfile installer(
      ::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(installer);
  EXPECT_EQ(ReadOpenFile(installer.get(), kInstallerMaxBytes), Bytes(downloaded));
}

TEST_F(InstallerDownload, AnUnsignedFileIsRefusedByTheSignatureCheck) {
  // This test program is not signed.
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const unique_hfile file(::CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  const TrustResult result = VerifyInstallerSignature(file.get(), self, kUpdateSignerKeys);
  EXPECT_EQ(static_cast<DWORD>(result.status), static_cast<DWORD>(TRUST_E_NOSIGNATURE));
  EXPECT_EQ(TrustResultText(result), L"The file is not signed.");
}

// Answers each message box that `thread` shows, as a user would, until it is
// destroyed, and keeps the boxes' texts. A box blocks the thread that shows
// it: once that thread's call has returned, every box it showed is here.
class BoxAnswerer {
 public:
  BoxAnswerer(DWORD thread, int answer) : thread_(thread), answer_(answer), worker_([this] { Run(); }) {}
  ~BoxAnswerer() {
    stop_ = true;
    worker_.join();
  }
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  [[nodiscard]] std::vector<std::wstring> Texts() {
    const std::lock_guard lock(mutex_);
    return texts_;
  }
  // The owner window of each box, in the same order.
  [[nodiscard]] std::vector<HWND> Owners() {
    const std::lock_guard lock(mutex_);
    return owners_;
  }

 private:
  static std::wstring MessageOf(HWND box) {
    std::wstring message;
    ::EnumChildWindows(
        box,
        [](HWND child, LPARAM parameter) noexcept -> BOOL {
          wchar_t className[16] = {};
          wchar_t text[1024] = {};
          ::GetClassNameW(child, className, static_cast<int>(std::size(className)));
          if (_wcsicmp(className, L"Static") == 0 &&
              ::GetWindowTextW(child, text, static_cast<int>(std::size(text))) > 0) {
            *reinterpret_cast<std::wstring*>(parameter) += text;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&message));
    return message;
  }
  HWND VisibleBox() const {
    HWND found = nullptr;
    ::EnumThreadWindows(
        thread_,
        [](HWND window, LPARAM parameter) noexcept -> BOOL {
          wchar_t className[16] = {};
          ::GetClassNameW(window, className, static_cast<int>(std::size(className)));
          if (std::wstring_view(className) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
          *reinterpret_cast<HWND*>(parameter) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  }
  void Run() {
    while (!stop_) {
      const HWND box = VisibleBox();
      if (box == nullptr) {
        std::this_thread::sleep_for(10ms);
        continue;
      }
      const std::wstring message = MessageOf(box);
      {
        const std::lock_guard lock(mutex_);
        texts_.push_back(message);
        owners_.push_back(::GetWindow(box, GW_OWNER));
      }
      // A box with Yes gets the answer; one with OK only, OK.
      const HWND yes = ::GetDlgItem(box, IDYES);
      const int button = yes != nullptr ? answer_ : IDOK;
      ::PostMessageW(::GetDlgItem(box, button), BM_CLICK, 0, 0);
      while (!stop_ && ::IsWindow(box)) std::this_thread::sleep_for(10ms);
    }
  }

  DWORD thread_;
  int answer_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::wstring> texts_;
  std::vector<HWND> owners_;
  std::thread worker_;
};

TEST_F(InstallerDownload, TheErrorPageIsOfferedAndItsAddressShownWhenNoBrowserOpensIt) {
  // This test program is not signed.
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const unique_hfile file(::CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  const auto installer = file ? ReadOpenFile(file.get(), kInstallerMaxBytes) : std::nullopt;
  ASSERT_TRUE(installer.has_value());
  const std::wstring url(kUpdateErrorPageUrl);
  const std::wstring addressText =
      L"The web page could not be opened in your browser. To download the installer, please visit:\n\n" + url;

  struct Case {
    const char* name;
    int answer;
    bool opens;
    bool pageAsked;
    bool addressShown;
  };
  const Case cases[] = {
      {"no", IDNO, true, false, false},
      {"yes, the browser opens it", IDYES, true, true, false},
      {"yes, no browser could be asked", IDYES, false, true, true},
  };
  // The window whose command led to the download owns every box.
  const unique_hwnd owner(
      ::CreateWindowExW(0, L"Static", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(owner);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeProgramStarter starter;
    starter.opensPages = c.opens;
    std::vector<std::wstring> boxes;
    std::vector<HWND> owners;
    {
      BoxAnswerer answerer(::GetCurrentThreadId(), c.answer);
      EXPECT_FALSE(LaunchDownloadedUpdate(*installer, PackVersion(L"1.2.2.5"), starter, owner.get(), kNothingRevoked));
      boxes = answerer.Texts();
      owners = answerer.Owners();
    }
    EXPECT_EQ(owners, std::vector<HWND>(boxes.size(), owner.get()));
    ASSERT_EQ(starter.calls.size(), c.pageAsked ? 1u : 0u);
    if (c.pageAsked) {
      EXPECT_EQ(starter.calls[0].how, FakeProgramStarter::How::WebPage);
      EXPECT_EQ(starter.calls[0].path, url);
    }
    ASSERT_EQ(boxes.size(), c.addressShown ? 2u : 1u);
    EXPECT_NE(boxes[0].find(L"The file is not signed."), std::wstring::npos);
    if (c.addressShown) {
      EXPECT_EQ(boxes[1], addressText);
    }
  }
}

// The text of the download dialog that `thread` shows, or empty while none shows.
std::wstring DownloadDialogText(DWORD thread, HWND& dialog) {
  dialog = nullptr;
  ::EnumThreadWindows(
      thread,
      [](HWND window, LPARAM found) noexcept -> BOOL {
        if (::GetDlgItem(window, IDC_DOWNLOAD_TEXT) == nullptr || !::IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&dialog));
  wchar_t text[256] = {};
  if (dialog != nullptr) ::GetDlgItemTextW(dialog, IDC_DOWNLOAD_TEXT, text, static_cast<int>(std::size(text)));
  return text;
}

// Checking a downloaded installer (hashing it, building chains) runs on the
// download's thread, after the last byte and before the download counts as
// done, while the dialog says so and its window's thread goes on answering;
// its time is not held against the download's pace.
TEST(DownloadDialog, TheBodyIsCheckedOnTheDownloadsThreadUnderAVerifyingStep) {
  struct Shared {
    UniqueEvent release;
    std::atomic<DWORD> checkThread{0};
  };
  const auto shared = std::make_shared<Shared>();
  // A window of one byte per 10 s would end a download that sent nothing for that long.
  constexpr DownloadLimits kStrict{60'000, 200, 1};
  BackgroundFetch fetch(
      [](FetchControl& control) -> std::optional<std::vector<std::byte>> {
        control.Report(4, 4);
        return std::vector<std::byte>(4);
      },
      kStrict,
      [shared](std::vector<std::byte>& body) {
        shared->checkThread = ::GetCurrentThreadId();
        ::WaitForSingleObject(shared->release.handle.get(), 30'000);
        body.push_back(std::byte{1});
      });

  const DWORD windowThread = ::GetCurrentThreadId();
  std::wstring textWhileChecking;
  bool answeredWhileChecking = false;
  std::thread watcher([&] {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    HWND dialog = nullptr;
    while (std::chrono::steady_clock::now() < deadline) {
      textWhileChecking = DownloadDialogText(windowThread, dialog);
      if (textWhileChecking == L"Verifying...") break;
      std::this_thread::sleep_for(10ms);
    }
    // Past several of the pace's windows, the check still holds the download.
    std::this_thread::sleep_for(1s);
    DWORD_PTR result = 0;
    answeredWhileChecking = dialog != nullptr && fetch.Checking() &&
                            ::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
    ::SetEvent(shared->release.handle.get());
  });
  const BackgroundFetch::Outcome outcome = RunDownloadDialog(nullptr, IDS_DOWNLOADING_UPDATE, fetch);
  watcher.join();
  EXPECT_EQ(textWhileChecking, L"Verifying...");
  EXPECT_TRUE(answeredWhileChecking);
  EXPECT_EQ(outcome, BackgroundFetch::Outcome::Done);
  EXPECT_NE(shared->checkThread.load(), 0u);
  EXPECT_NE(shared->checkThread.load(), windowThread);
  const auto body = fetch.TakeBody();
  ASSERT_TRUE(body.has_value());
  EXPECT_EQ(body->size(), 5u) << "the body as the check left it";
}

TEST(ProtectedDownloadFolder, IsNewForEachDownloadAndNeverOneThatExists) {
  wchar_t windows[MAX_PATH] = {};
  ASSERT_NE(::GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::wstring prefix = std::wstring(windows) + L"\\Temp\\Tarnwick-";
  const std::wstring folder = NewProtectedDownloadFolder();
  const std::wstring next = NewProtectedDownloadFolder();
  EXPECT_TRUE(folder.starts_with(prefix) && folder.size() == prefix.size() + 32)
      << std::string(folder.begin(), folder.end());
  EXPECT_NE(folder, next) << "a name others could know in advance";

  ASSERT_TRUE(CreateProtectedFolder(folder));
  EXPECT_FALSE(PathHasReparsePoint(folder));
  // Someone made it first: whatever it is, it is not used.
  EXPECT_FALSE(CreateProtectedFolder(folder));
  EXPECT_TRUE(::RemoveDirectoryW(folder.c_str()));
  EXPECT_FALSE(CreateProtectedFolder(L"C:\\no such folder\\Tarnwick-0"));
  EXPECT_TRUE(PathHasReparsePoint(L"C:\\no such folder\\Tarnwick-0")) << "a path that cannot be read";
}

// The Unix path of a Windows path (Wine only).
std::string UnixPathOf(const std::wstring& windowsPath) {
  using UnixFileName = char* (*)(const wchar_t*);
  const auto convert = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unixPath = convert != nullptr ? convert(windowsPath.c_str()) : nullptr;
  if (unixPath == nullptr) return {};
  std::string result(unixPath);
  ::HeapFree(::GetProcessHeap(), 0, unixPath);
  return result;
}

TEST(ProtectedDownloadFolder, IsRefusedBelowAReparsePoint) {
  if (!testing_support::RunningUnderWine()) GTEST_SKIP() << "makes a Linux symbolic link";
  // A Linux symbolic link stands in for a junction: Wine shows it as a
  // reparse point.
  const std::wstring target = L"C:\\reparse-target-" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring link = L"C:\\reparse-link-" + std::to_wstring(::GetCurrentProcessId());
  ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
  const std::string unixTarget = UnixPathOf(target);
  const std::string unixLink = UnixPathOf(L"C:\\") + "/reparse-link-" + std::to_string(::GetCurrentProcessId());
  std::wstring commandLine = L"/bin/ln -s " + std::wstring(unixTarget.begin(), unixTarget.end()) + L" " +
                             std::wstring(unixLink.begin(), unixLink.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(::CreateProcessW(L"Z:\\bin\\ln", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &started));
  // Wine hands back no handle that can be waited on for a Unix program: the
  // link is waited for instead.
  const unique_handle process(started.hProcess);
  const unique_handle thread(started.hThread);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES && std::chrono::steady_clock::now() < deadline) {
    ::Sleep(10);
  }
  ASSERT_NE(::GetFileAttributesW(link.c_str()), INVALID_FILE_ATTRIBUTES) << "no link";

  const std::wstring name = NewProtectedDownloadFolder();
  const std::wstring leaf = name.substr(name.rfind(L'\\'));
  EXPECT_TRUE(PathHasReparsePoint(link + leaf));
  EXPECT_FALSE(CreateProtectedFolder(link + leaf));
  EXPECT_EQ(::GetFileAttributesW((target + leaf).c_str()), INVALID_FILE_ATTRIBUTES)
      << "the refused folder is not left behind";
  // Wine's RemoveDirectoryW on a link removes the (empty) folder it points
  // to and leaves the link, which goes with the prefix.
  ::RemoveDirectoryW(link.c_str());
  ::RemoveDirectoryW(target.c_str());
}

TEST(InstallerVersion, OnlyTheAnnouncedVersionAndOnlyANewerOne) {
  const uint32_t current = PackVersion(CurrentVersionText);
  struct Case {
    std::optional<uint32_t> installer;
    uint32_t announced;
    bool accepted;
  };
  const Case cases[] = {
      {current + 1, current + 1, true},
      {0x02000000u, 0x02000000u, true},
      // An older genuine installer served for a newer announcement.
      {current - 1, current + 1, false},
      {current + 2, current + 1, false},
      // Announced and carried, but not newer than what runs.
      {current, current, false},
      {current - 1, current - 1, false},
      {std::nullopt, current + 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InstallerVersionAcceptable(c.installer, c.announced), c.accepted)
        << testing::PrintToString(c.installer) << " for " << c.announced;
  }
}

#ifdef TARNWICK_SIGNED_SAMPLES_DIR
inline void CertCloseStoreAny(HCERTSTORE store) noexcept { ::CertCloseStore(store, 0); }
using unique_hcertstore = unique_any<HCERTSTORE, CertCloseStoreAny>;

std::wstring WindowsPathOf(const std::string& unixPath) {
  std::wstring path = L"Z:" + std::wstring(unixPath.begin(), unixPath.end());
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

// The test CAs in this prefix's root stores while the object lives: two that
// the machine trusts, one that only the user's own store trusts.
class TestRoots {
 public:
  TestRoots() {
    Add(CERT_SYSTEM_STORE_LOCAL_MACHINE, "ca.der");
    Add(CERT_SYSTEM_STORE_LOCAL_MACHINE, "ca2.der");
    Add(CERT_SYSTEM_STORE_CURRENT_USER, "user-ca.der");
#ifdef TARNWICK_TIMESTAMPED_SAMPLES_DIR
    // The long-lived root of the expired signer and of the time-stamp authority.
    Add(CERT_SYSTEM_STORE_LOCAL_MACHINE, "ts-root.der", TARNWICK_TIMESTAMPED_SAMPLES_DIR);
#endif
  }
  ~TestRoots() {
    for (auto& [location, certificate] : added_) {
      const unique_hcertstore store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location, L"Root"));
      PCCERT_CONTEXT found = store ? ::CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                                  certificate, nullptr)
                                   : nullptr;
      if (found != nullptr) ::CertDeleteCertificateFromStore(found);
      ::CertFreeCertificateContext(certificate);
    }
  }
  TestRoots(const TestRoots&) = delete;
  TestRoots& operator=(const TestRoots&) = delete;

 private:
  void Add(DWORD location, const char* name, const char* folder = TARNWICK_TEST_PKI_DIR) {
    const unique_hfile file(::CreateFileW(WindowsPathOf(std::string(folder) + "/" + name).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    const auto der = file ? ReadOpenFile(file.get(), 1 << 20) : std::nullopt;
    ASSERT_TRUE(der.has_value()) << name;
    PCCERT_CONTEXT certificate = ::CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der->data()), static_cast<DWORD>(der->size()));
    ASSERT_NE(certificate, nullptr) << name;
    added_.emplace_back(location, certificate);
    const unique_hcertstore store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location, L"Root"));
    ASSERT_TRUE(store);
    ASSERT_TRUE(::CertAddCertificateContextToStore(store.get(), certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
  }
  std::vector<std::pair<DWORD, PCCERT_CONTEXT>> added_;
};

TEST(InstallerSignature, OnlyThePinnedKeyForCodeSigningUnderAMachineRootIsAccepted) {
  // Root stores are the machine's own: only in a Wine prefix of the test's own.
  if (!testing_support::RunningUnderWine()) GTEST_SKIP() << "changes the machine's root stores";
  const TestRoots roots;
  struct Case {
    const char* sample;
    LONG status;
  };
  const Case cases[] = {
      {"signer", 0},
      // A second key with the pinned name, from the same CA and from another
      // root the machine trusts.
      {"same-name", TRUST_E_SUBJECT_NOT_TRUSTED},
      {"other-root", TRUST_E_SUBJECT_NOT_TRUSTED},
      // The pinned key itself, but under a root only the user trusts, or
      // certified for server authentication only, or for no named usage
      // (which a chain's usage check lets pass as "any").
      {"user-root", TRUST_E_SUBJECT_NOT_TRUSTED},
      {"server-only", TRUST_E_SUBJECT_NOT_TRUSTED},
      {"no-usage", TRUST_E_SUBJECT_NOT_TRUSTED},
      {"other", TRUST_E_SUBJECT_NOT_TRUSTED},
      {"rogue", TRUST_E_SUBJECT_NOT_TRUSTED},
  };
  for (const Case& c : cases) {
    const std::wstring path = WindowsPathOf(std::string(TARNWICK_SIGNED_SAMPLES_DIR) + "/" + c.sample + ".exe");
    const unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file) << c.sample;
    const TrustResult result = VerifyInstallerSignature(file.get(), path, kUpdateSignerKeys);
    EXPECT_EQ(static_cast<DWORD>(result.status), static_cast<DWORD>(c.status)) << c.sample;
    // Only a signer that passed goes on to the revocation check.
    EXPECT_EQ(result.signer != nullptr, c.status == 0) << c.sample;
  }
  // Without its key in the list, the genuine signer is refused too.
  const std::wstring genuine = WindowsPathOf(std::string(TARNWICK_SIGNED_SAMPLES_DIR) + "/signer.exe");
  const unique_hfile file(
      ::CreateFileW(genuine.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  const std::string_view otherKeys[] = {"0000000000000000000000000000000000000000000000000000000000000000"};
  EXPECT_EQ(static_cast<DWORD>(VerifyInstallerSignature(file.get(), genuine, otherKeys).status),
            static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED));
}
#endif

#ifdef TARNWICK_TIMESTAMPED_SAMPLES_DIR
// The moment a sample's time stamp names, as the time-stamp authority was told.
std::optional<FILETIME> StampedTime(const std::string& sample) {
  const unique_hfile file(
      ::CreateFileW(WindowsPathOf(std::string(TARNWICK_TIMESTAMPED_SAMPLES_DIR) + "/" + sample + ".time").c_str(),
                    GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return std::nullopt;
  const auto text = ReadOpenFile(file.get(), 64);
  if (!text) return std::nullopt;
  const uint64_t seconds = std::stoull(std::string(reinterpret_cast<const char*>(text->data()), text->size()));
  // FILETIME counts 100 ns from 1601; Unix time, seconds from 1970.
  const uint64_t ticks = (seconds + 11644473600ull) * 10'000'000ull;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// An installer signed with the pinned key under a certificate that has since
// expired, time-stamped (RFC 3161, by a local authority) while it was valid,
// after it expired, or not at all. Windows judges the chain as of a verified
// time stamp; Wine 8's wintrust does not read RFC 3161 time stamps (it
// reports no counter-signer and the current time), so under Wine the time
// stamp's time is also given through the reader, as Windows would report it.
TEST(InstallerSignature, AnExpiredSignersInstallerCountsAsOfItsTimeStamp) {
  if (!testing_support::RunningUnderWine()) GTEST_SKIP() << "changes the machine's root stores";
  const TestRoots roots;
  struct Case {
    const char* sample;
    LONG status;
  };
  const Case cases[] = {
      {"stamped-inside", 0},
      {"unstamped", TRUST_E_SUBJECT_NOT_TRUSTED},
      {"stamped-after", TRUST_E_SUBJECT_NOT_TRUSTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample);
    const std::wstring path = WindowsPathOf(std::string(TARNWICK_TIMESTAMPED_SAMPLES_DIR) + "/" + c.sample + ".exe");
    const unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    const std::optional<FILETIME> stamp = StampedTime(c.sample);
    ASSERT_EQ(stamp.has_value(), std::string_view(c.sample) != "unstamped");
    // Through the seam: the time stamp's time as a verified time stamp gives it.
    const auto asWindowsReports = [&](const CRYPT_PROVIDER_SGNR&) { return stamp; };
    EXPECT_EQ(
        static_cast<DWORD>(VerifyInstallerSignature(file.get(), path, kUpdateSignerKeys, asWindowsReports).status),
        static_cast<DWORD>(c.status));
    // Wine's own report: no time stamp seen, so the current time, which
    // refuses the expired certificate whatever its stamp says.
    std::optional<FILETIME> reported;
    const auto throughWine = [&](const CRYPT_PROVIDER_SGNR& signer) { return reported = TrustedSigningTime(signer); };
    EXPECT_EQ(static_cast<DWORD>(VerifyInstallerSignature(file.get(), path, kUpdateSignerKeys, throughWine).status),
              static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED));
    EXPECT_FALSE(reported.has_value()) << "Wine now reports a verified time stamp: drop the seam for this case";
  }
}
#endif

#ifdef TARNWICK_UPDATE_FIXTURES_DIR
// How the verified installer is started: the consent prompt and another
// account's token are not Wine's to show, so the starter is the seam.
TEST(InstallerStart, ElevatedFromANewProtectedFolderDirectlyOtherwiseThroughTheConsentPrompt) {
  if (!testing_support::RunningUnderWine()) GTEST_SKIP() << "changes the machine's root stores";
  const TestRoots roots;
  const unique_hfile file(::CreateFileW(WindowsPathOf(TARNWICK_UPDATE_FIXTURES_DIR "/signed.exe").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  const auto installer = file ? ReadOpenFile(file.get(), kInstallerMaxBytes) : std::nullopt;
  ASSERT_TRUE(installer.has_value());
  wchar_t windows[MAX_PATH] = {};
  ASSERT_NE(::GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);

  for (const bool elevated : {false, true}) {
    SCOPED_TRACE(elevated ? "elevated" : "not elevated");
    FakeProgramStarter starter;
    starter.elevated = elevated;
    std::string checkedKey;
    const RevocationCheck notRevoked = [&](const std::shared_ptr<const SignerCertificates>& signer) {
      checkedKey = PublicKeyDigest(signer->Signer());
      return RevocationStatus::Unknown;  // as when offline: accepted
    };
    ASSERT_TRUE(LaunchDownloadedUpdate(*installer, PackVersion(L"1.2.2.5"), starter, nullptr, notRevoked));
    EXPECT_EQ(checkedKey, kUpdateSignerKeys[0]) << "the revocation check was not asked about the pinned signer";
    ASSERT_EQ(starter.calls.size(), 1u);
    const FakeProgramStarter::Call& call = starter.calls[0];
    EXPECT_EQ(call.arguments, L"/S /UPDATE");
    if (elevated) {
      EXPECT_EQ(call.how, FakeProgramStarter::How::Program) << "no verb, association or search path";
      EXPECT_TRUE(call.path.starts_with(std::wstring(windows) + L"\\Temp\\Tarnwick-"));
      EXPECT_EQ(call.path, call.folder + L"\\TarnwickSetup.exe") << "started in its own folder";
    } else {
      EXPECT_EQ(call.how, FakeProgramStarter::How::Elevated) << "the consent prompt shows the publisher";
      EXPECT_EQ(call.path, DownloadFolder() + L"\\TarnwickSetup.exe");
    }
    EXPECT_TRUE(::DeleteFileW(call.path.c_str()));
    EXPECT_TRUE(::RemoveDirectoryW(call.path.substr(0, call.path.rfind(L'\\')).c_str()));

    // A signer that its CA has revoked: nothing is started, nothing is kept
    // in a protected folder, and no box is shown (the caller says string 119).
    FakeProgramStarter refused;
    refused.elevated = elevated;
    const RevocationCheck revoked = [](const std::shared_ptr<const SignerCertificates>&) {
      return RevocationStatus::Revoked;
    };
    EXPECT_FALSE(LaunchDownloadedUpdate(*installer, PackVersion(L"1.2.2.5"), refused, nullptr, revoked));
    EXPECT_TRUE(refused.calls.empty());
    if (elevated) {
      WIN32_FIND_DATAW found{};
      const unique_find left(::FindFirstFileW((std::wstring(windows) + L"\\Temp\\Tarnwick-*").c_str(), &found));
      EXPECT_FALSE(left) << "the refused installer's folder stays";
    }
  }
}
#endif

// What Windows sets in a chain's error status when revocation is checked
// (CERT_TRUST_STATUS): a revoked certificate refuses; a list that cannot be
// had (offline, no answer within the time, none named) sets both "unknown"
// and "offline", and is accepted. Wine's engine sets only the revoked bit,
// so the offline half of this contract is checked here alone.
TEST(InstallerSignature, OnlyARevokedCertificateInTheChainRefusesTheSigner) {
  struct Case {
    DWORD status;
    RevocationStatus expected;
  };
  const Case cases[] = {
      {CERT_TRUST_NO_ERROR, RevocationStatus::NotRevoked},
      {CERT_TRUST_IS_REVOKED, RevocationStatus::Revoked},
      {CERT_TRUST_IS_REVOKED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN, RevocationStatus::Revoked},
      {CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION, RevocationStatus::Unknown},
      {CERT_TRUST_REVOCATION_STATUS_UNKNOWN, RevocationStatus::Unknown},
      // Errors that are not about revocation were judged by the signer check.
      {CERT_TRUST_IS_NOT_TIME_VALID, RevocationStatus::NotRevoked},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RevocationOfChain(c.status), c.expected) << std::hex << c.status;
  }
}

}  // namespace
}  // namespace tarnwick
