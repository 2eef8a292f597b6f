#pragma once
// The wire between the world host and the programs attached to it. Every message is a
// frame: an 8-byte header (payload length, 32-bit big-endian; protocol version, 16-bit
// big-endian; two zero bytes) and a CBOR payload holding one object:
//
//   {"k": kind, "id": request id, "m": method name, "v": body, "t": lane, "f": 1}
//
// "f" says a descriptor travels beside the message (SCM_RIGHTS on the frame's first byte):
// the memory of a surface or a picture, which never crosses as bytes.
//
// Kinds: "call" (client to host, answered by one "reply" or "error" with the same id; a
// call of id 0 is told, and answered by nothing), "push" (host to client, unasked: tap
// events, notifications), "answer" (client to host: the reply to a push that wants one,
// such as a tap's verdict). Bodies are plain values as JSON, so both sides read them with
// the checked readers of WireValues.h.
//
// A reader never trusts the other side: a frame longer than kMaxPayload, a header of
// another version, a payload that is not CBOR, not an object or lacks its fields ends
// the stream with an error that says which, and nothing after it is read.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace host::wire {

inline constexpr std::uint16_t kProtocolVersion = 2;
inline constexpr std::size_t kHeaderSize = 8;
/// What a program reads from the host: a preference domain read whole (its file holds at
/// most 64 MiB) beside pictures left inline (within kInlinePixelBytes); anything longer is
/// refused before a byte of it is buffered.
inline constexpr std::size_t kMaxPayload = std::size_t{128} << 20;
/// What the host reads from a program. Pictures and surfaces travel in shared memory, so
/// the longest call is a preference domain written whole: a program's own are a few
/// kilobytes, and settings carried over from an earlier version a megabyte or two.
inline constexpr std::size_t kMaxCallPayload = std::size_t{16} << 20;

enum class Kind { call, reply, error, push, answer };

/// A descriptor that travels beside a message; closed when the last copy of its message goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  /// Hands the descriptor over to the caller (-1 when it was taken already).
  int release();
  /// What the memory behind it holds (of a budget) until the peer has read it, not only
  /// until it is sent (see Channel::releaseRead).
  std::shared_ptr<void> hold;

 private:
  int fd_;
};

struct Message {
  Kind kind = Kind::call;
  std::uint64_t id = 0;
  std::string method;  // empty for replies
  nlohmann::json body;
  /// Calls of one lane (the program's thread that made them) are answered in order; calls
  /// of different lanes may be answered side by side, as calls from several threads are.
  /// Lane 0 is answered before anything sent after it (only for requests that never wait).
  std::uint32_t lane = 0;
  /// Set from the frame: a descriptor came with it, to be matched by the connection.
  bool carriesDescriptor = false;
  /// The descriptor sent or received with the message, if any.
  std::shared_ptr<Descriptor> descriptor = nullptr;
  /// Set by the decoder: the bytes of the frame it came in, what the message costs while
  /// it waits to be answered. No part of what it says.
  std::size_t frameBytes = 0;
  friend bool operator==(const Message& a, const Message& b) {
    return a.kind == b.kind && a.id == b.id && a.method == b.method && a.body == b.body && a.lane == b.lane &&
           a.carriesDescriptor == b.carriesDescriptor && a.descriptor == b.descriptor;
  }
};

const char* kindName(Kind kind);

/// The whole frame for one message.
std::vector<std::uint8_t> encode(const Message& message);

/// Why a stream was given up.
struct Fault {
  enum class Reason { oversized, version, malformed, unread };
  Reason reason = Reason::malformed;
  std::string what;               // for the log line
  std::uint16_t peerVersion = 0;  // with Reason::version: the version the peer speaks
};

/// Cuts a byte stream into messages. Feed it what the socket gave, then take messages
/// until none is complete. After a fault it keeps answering that fault and reads nothing.
class Decoder {
 public:
  explicit Decoder(std::size_t maxPayload = kMaxPayload) : maxPayload_(maxPayload) {}

  void feed(const std::uint8_t* bytes, std::size_t count);
  /// The next complete message; nothing while one is incomplete or after a fault.
  std::optional<Message> next();
  const std::optional<Fault>& fault() const { return fault_; }
  /// The stream ended: a message cut short by it is a fault (truncated).
  void endOfStream();
  /// Bytes held for a message not yet complete.
  std::size_t buffered() const { return buffer_.size() - consumed_; }

 private:
  void fail(Fault::Reason reason, std::string what, std::uint16_t peerVersion = 0);

  std::size_t maxPayload_;
  std::vector<std::uint8_t> buffer_;
  std::size_t consumed_ = 0;
  std::optional<Fault> fault_;
};

/// Reads one message from a decoded payload; the fault's text when it is not one.
std::optional<Message> parsePayload(const std::uint8_t* bytes, std::size_t count, std::string& problem);

}  // namespace host::wire
