// vtxservice on the service frame.
#pragma once
#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "serviceframe/frame.h"

namespace vtx::svc {

class VantrexService : public ServiceModule {
 public:
  VantrexService();
  ~VantrexService() override;

 protected:
  DWORD OnStart() override;
  void OnRunEnded() override;
  DWORD OnRequest(DWORD msg, WPARAM wParam, LPARAM lParam) override;
  void OnWatchdogTick() override;
  void OnPeerSilent() override;
  std::vector<vtx::service::UnitConfig> Units() const override;
  HRESULT OnInstalled(std::string* message) override;

 private:
  // Polls until the server answers (S_OK), fails (E_FAIL, `why` says how) or a stop comes
  // (S_FALSE).
  HRESULT WaitForServer(std::string* why);
  // WM_VX_QUIT to the server, within the time-out.
  HRESULT StopServerApp(DWORD timeoutMs);
  // The stop path: the server is told to quit, then given the rest of the limit to end.
  void StopServer();
  void WatchServer();
  // The "Configurations" folder of the product folder that holds this program.
  static std::string ConfigurationsFolder();

  vtx::LockFile instance_;
  vtx::ChildProcess server_;
  HANDLE serverHandle_ = nullptr;
  WatchId serverWatch_ = 0;
};

}  // namespace vtx::svc
