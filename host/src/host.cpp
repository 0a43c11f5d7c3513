// The host object: options, failure injection, memory, thread pool,
// message sink.
#include <ombrix/host/host.h>

#include <ombrix/platform/headless.h>

#include <cstdio>
#include <iostream>

namespace ombrix {

Host::Host(HostOptions options) : options_(std::move(options)) {
  pool_ = std::make_unique<ThreadPool>(options_.threads, &failures_);
  // The registry the plug-ins see (the web-page launcher's record, Paint's
  // preferences) lives where the host was told; otherwise the user's.
  if (!options_.registry_dir.empty()) platform::SetRegistryDirectory(options_.registry_dir.string());
  on_message = [](std::string_view msg) {
    std::fwrite(msg.data(), 1, msg.size(), stderr);
    std::fputc('\n', stderr);
  };
}

Host::~Host() = default;

int Host::threads() const { return pool_->size(); }

void Host::SetThreads(int threads) {
  options_.threads = threads;
  pool_ = std::make_unique<ThreadPool>(threads, &failures_);
}

ThreadPool& Host::pool() { return *pool_; }

}  // namespace ombrix
