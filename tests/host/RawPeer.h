#pragma once
// A connection to a world host that speaks the wire by hand, for what no program would
// send (or for a program that stops reading), and the in-process host such peers meet.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <variant>

#include "platform/host/Channel.h"
#include "platform/host/Host.h"
#include "platform/host/Wire.h"
#include "support/Scene.h"
#include "support/Served.h"

struct RawPeer {
  using Message = host::wire::Message;
  int fd = -1;
  host::wire::Decoder decoder;
  explicit RawPeer(const std::string& socket) {
    auto connected = host::connectTo(socket);
    if (auto* error = std::get_if<std::string>(&connected)) ADD_FAILURE() << *error;
    if (auto* fd_ = std::get_if<int>(&connected)) fd = *fd_;
  }
  ~RawPeer() {
    if (fd >= 0) ::close(fd);
  }
  void send(const Message& message) {
    const auto frame = host::wire::encode(message);
    sendBytes(frame.data(), frame.size());
  }
  void sendBytes(const std::uint8_t* bytes, std::size_t count) {
    ASSERT_EQ(::send(fd, bytes, count, MSG_NOSIGNAL), static_cast<ssize_t>(count));
  }
  /// The next message, or nothing when the host hung up (or did not answer within a bound
  /// far beyond any loaded machine's delay).
  std::optional<Message> next() {
    while (true) {
      if (auto message = decoder.next()) return message;
      pollfd readable{fd, POLLIN, 0};
      if (::poll(&readable, 1, 20000) != 1) {
        ADD_FAILURE() << "the host said nothing";
        return std::nullopt;
      }
      std::uint8_t buffer[4096];
      const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
      if (n <= 0) return std::nullopt;
      decoder.feed(buffer, static_cast<std::size_t>(n));
    }
  }
};

/// A host serving a scene's world in this process, the scene's program attached to it
/// over its socket: where the tests of peers that misbehave start.
class ServedHostTest : public testing::Test {
 protected:
  Scene scene{Scene::Start::defaultScenario};
  Attachment attachment{scene, Served::remote};
  host::Host& host = *attachment.host();
  const std::string socket = host::endpointFor(scene.home).socket;
};

/// Whether the host's log has a line with `text`, exactly `times` times.
inline bool logHas(host::Host& host, const std::string& text, std::size_t times = 1) {
  const auto lines = host.log();
  return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
           return line.find(text) != std::string::npos;
         })) == times;
}
