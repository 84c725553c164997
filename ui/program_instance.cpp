#include "ui/program_instance.h"

namespace tarnwick {

HINSTANCE AppInstance = nullptr;

HINSTANCE ProgramInstance() noexcept { return AppInstance != nullptr ? AppInstance : ::GetModuleHandleW(nullptr); }

}  // namespace tarnwick
