// A ProgramStarter with scripted elevation and results that records every
// start and page.
#pragma once

#include "platform/program_starter.h"

#include <string>
#include <vector>

namespace tarnwick {

class FakeProgramStarter final : public ProgramStarter {
 public:
  enum class How { Program, Elevated, WebPage, FileInFolder };
  struct Call {
    How how;
    std::wstring path;  // or the URL
    std::wstring arguments;
    std::wstring folder;
  };

  bool elevated = false;
  bool starts = true;
  bool opensPages = true;

  [[nodiscard]] bool IsElevated() override { return elevated; }
  [[nodiscard]] bool StartProgram(const std::wstring& path, const std::wstring& arguments,
                                  const std::wstring& folder) override {
    calls.push_back({How::Program, path, arguments, folder});
    return starts;
  }
  [[nodiscard]] bool StartElevated(const std::wstring& path, const std::wstring& arguments) override {
    calls.push_back({How::Elevated, path, arguments, {}});
    return starts;
  }
  [[nodiscard]] bool OpenWebPage(const std::wstring& url) override {
    calls.push_back({How::WebPage, url, {}, {}});
    return opensPages;
  }

  [[nodiscard]] bool ShowFileInFolder(const std::wstring& path) override {
    calls.push_back({How::FileInFolder, path, {}, {}});
    return opensPages;
  }

  std::vector<Call> calls;
};

}  // namespace tarnwick
