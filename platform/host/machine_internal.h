// Shared by the model's platform functions; not for tests or the sim.
#ifndef KVUNINST_HOST_MACHINE_INTERNAL_H
#define KVUNINST_HOST_MACHINE_INTERNAL_H

#include <optional>
#include <string>

#include "platform/host/model.h"

namespace host {

// The error to report when the call about to be journalled is the one made
// to fail.
std::optional<LONG> TakeFault();
// Appends "call = result" to the journal.
void Record(const std::string& call, long result);
// The thread's last error, as GetLastError reports it.
void SetLastError(DWORD error);

}  // namespace host

#endif
