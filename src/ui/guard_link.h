// The program's end of the pipe to the guard service, when the service
// started it as its face.
#pragma once

#include <optional>

#include "guard/protocol.h"

namespace dadado {

class GuardLink {
 public:
  virtual ~GuardLink() = default;
  // Sends a request and waits a little for the service's reply to it;
  // nullopt when none came.
  virtual std::optional<protocol::Message> Ask(protocol::Message request) = 0;
  // Sends what needs no reply.
  virtual void Tell(const protocol::Message& message) = 0;
};

}  // namespace dadado
