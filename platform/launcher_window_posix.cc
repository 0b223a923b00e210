// Launchers are reached through local sockets here: there are no launcher
// windows to find or to make.
#include "platform/launcher_window.h"

namespace marrowgate::platform {

struct LauncherWindowHost::State {};

std::unique_ptr<LauncherWindow> LauncherWindow::Find(std::string_view) { return nullptr; }

WindowSendResult LauncherWindow::Send(int32_t, int32_t, std::string_view, int, int32_t*) {
  return kWindowSendFailed;
}

bool LauncherWindow::OwnedByThisUser() const { return false; }

std::unique_ptr<LauncherWindowHost> LauncherWindowHost::Create(std::string_view, Handler) {
  return nullptr;
}

LauncherWindowHost::LauncherWindowHost(std::unique_ptr<State> state) : state_(std::move(state)) {}
LauncherWindowHost::~LauncherWindowHost() = default;

bool LauncherWindowHost::Serve(int) { return false; }
void LauncherWindowHost::Stop() {}

}  // namespace marrowgate::platform
