#include "platform/host/Wire.h"

#include <unistd.h>

#include <array>
#include <cstring>

namespace host::wire {

namespace {

/// What a decoder keeps of its buffer once it is read to the end.
constexpr std::size_t kKeptCapacity = std::size_t{256} << 10;

constexpr std::array<const char*, 5> kKindNames = {"call", "reply", "error", "push", "answer"};

std::optional<Kind> kindNamed(const std::string& name) {
  for (std::size_t i = 0; i < kKindNames.size(); ++i) {
    if (name == kKindNames[i]) return static_cast<Kind>(i);
  }
  return std::nullopt;
}

/// Builds the value while refusing nesting deeper than a message ever needs: the reader
/// descends recursively, so a payload of a million nested arrays would otherwise
/// exhaust the stack.
class BoundedBuilder {
 public:
  using json = nlohmann::json;
  static constexpr int kMaxDepth = 64;

  explicit BoundedBuilder(json& root) : dom_(root, false) {}

  bool null() { return dom_.null(); }
  bool boolean(bool v) { return dom_.boolean(v); }
  bool number_integer(json::number_integer_t v) { return dom_.number_integer(v); }
  bool number_unsigned(json::number_unsigned_t v) { return dom_.number_unsigned(v); }
  bool number_float(json::number_float_t v, const json::string_t& s) { return dom_.number_float(v, s); }
  bool string(json::string_t& v) { return dom_.string(v); }
  bool binary(json::binary_t& v) { return dom_.binary(v); }
  bool start_object(std::size_t n) { return ++depth_ <= kMaxDepth && dom_.start_object(n); }
  bool key(json::string_t& v) { return dom_.key(v); }
  bool end_object() {
    --depth_;
    return dom_.end_object();
  }
  bool start_array(std::size_t n) { return ++depth_ <= kMaxDepth && dom_.start_array(n); }
  bool end_array() {
    --depth_;
    return dom_.end_array();
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  nlohmann::detail::json_sax_dom_parser<json> dom_;
  int depth_ = 0;
};

}  // namespace

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int Descriptor::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

const char* kindName(Kind kind) { return kKindNames.at(static_cast<std::size_t>(kind)); }

std::vector<std::uint8_t> encode(const Message& message) {
  nlohmann::json object = {{"k", kindName(message.kind)}, {"id", message.id}, {"v", message.body}};
  if (!message.method.empty()) object["m"] = message.method;
  if (message.lane) object["t"] = message.lane;
  if (message.descriptor) object["f"] = 1;
  std::vector<std::uint8_t> frame(kHeaderSize);
  nlohmann::json::to_cbor(object, frame);
  const std::size_t length = frame.size() - kHeaderSize;
  frame[0] = static_cast<std::uint8_t>(length >> 24);
  frame[1] = static_cast<std::uint8_t>(length >> 16);
  frame[2] = static_cast<std::uint8_t>(length >> 8);
  frame[3] = static_cast<std::uint8_t>(length);
  frame[4] = static_cast<std::uint8_t>(kProtocolVersion >> 8);
  frame[5] = static_cast<std::uint8_t>(kProtocolVersion & 0xFF);
  frame[6] = frame[7] = 0;
  return frame;
}

std::optional<Message> parsePayload(const std::uint8_t* bytes, std::size_t count, std::string& problem) {
  nlohmann::json object;
  BoundedBuilder builder(object);
  bool parsed = false;
  try {
    parsed = nlohmann::json::sax_parse(bytes, bytes + count, &builder, nlohmann::json::input_format_t::cbor, true);
  } catch (const nlohmann::json::exception&) {
    parsed = false;  // e.g. a CBOR tag, which messages never use
  }
  if (!parsed) {
    problem = "the payload is not CBOR, or nests deeper than " + std::to_string(BoundedBuilder::kMaxDepth);
    return std::nullopt;
  }
  if (!object.is_object()) {
    problem = "the payload is not an object";
    return std::nullopt;
  }
  auto kind = object.find("k");
  auto id = object.find("id");
  auto body = object.find("v");
  auto method = object.find("m");
  if (kind == object.end() || !kind->is_string()) {
    problem = "the message has no kind";
    return std::nullopt;
  }
  auto k = kindNamed(kind->get_ref<const std::string&>());
  if (!k) {
    problem = "unknown message kind \"" + kind->get<std::string>() + "\"";
    return std::nullopt;
  }
  if (id == object.end() || !id->is_number_unsigned()) {
    problem = "the message has no id";
    return std::nullopt;
  }
  if (body == object.end()) {
    problem = "the message has no body";
    return std::nullopt;
  }
  Message message;
  message.kind = *k;
  message.id = id->get<std::uint64_t>();
  const bool named = message.kind == Kind::call || message.kind == Kind::push;
  if (method != object.end()) {
    if (!method->is_string()) {
      problem = "the method name is not a string";
      return std::nullopt;
    }
    message.method = method->get<std::string>();
  }
  if (named && message.method.empty()) {
    problem = std::string("a ") + kindName(message.kind) + " without a method";
    return std::nullopt;
  }
  if (auto lane = object.find("t"); lane != object.end()) {
    if (!lane->is_number_unsigned() || lane->get<std::uint64_t>() > 0xFFFFFFFFu) {
      problem = "the lane is not a small unsigned number";
      return std::nullopt;
    }
    message.lane = lane->get<std::uint32_t>();
  }
  if (auto carries = object.find("f"); carries != object.end()) {
    if (!carries->is_number_unsigned() || carries->get<std::uint64_t>() != 1) {
      problem = "a message carries one descriptor at most";
      return std::nullopt;
    }
    message.carriesDescriptor = true;
  }
  message.body = std::move(*body);
  return message;
}

void Decoder::fail(Fault::Reason reason, std::string what, std::uint16_t peerVersion) {
  fault_ = Fault{reason, std::move(what), peerVersion};
  buffer_.clear();
  buffer_.shrink_to_fit();
  consumed_ = 0;
}

void Decoder::feed(const std::uint8_t* bytes, std::size_t count) {
  if (fault_ || count == 0) return;
  // Drop what was read already before growing, so a long stream keeps a small buffer.
  if (consumed_ > 0 && consumed_ == buffer_.size()) {
    buffer_.clear();
    consumed_ = 0;
    // A large message read whole leaves no room behind it for the small ones that follow.
    if (buffer_.capacity() > kKeptCapacity) buffer_.shrink_to_fit();
  } else if (consumed_ > (std::size_t{1} << 16)) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + count);
}

void Decoder::endOfStream() {
  if (!fault_ && buffered() > 0) {
    fail(Fault::Reason::malformed, "the stream ended inside a message (" + std::to_string(buffered()) + " bytes)");
  }
}

std::optional<Message> Decoder::next() {
  if (fault_) return std::nullopt;
  const std::size_t available = buffer_.size() - consumed_;
  if (available < kHeaderSize) return std::nullopt;
  const std::uint8_t* header = buffer_.data() + consumed_;
  const std::size_t length = (std::size_t{header[0]} << 24) | (std::size_t{header[1]} << 16) |
                             (std::size_t{header[2]} << 8) | std::size_t{header[3]};
  const std::uint16_t version = static_cast<std::uint16_t>((header[4] << 8) | header[5]);
  // The version is checked before the length, so a peer of another protocol is told so
  // even when its frames would not fit ours.
  if (version != kProtocolVersion) {
    fail(Fault::Reason::version,
         "the peer speaks protocol " + std::to_string(version) + ", this side " + std::to_string(kProtocolVersion),
         version);
    return std::nullopt;
  }
  if (header[6] != 0 || header[7] != 0) {
    fail(Fault::Reason::malformed, "the frame header's reserved bytes are not zero");
    return std::nullopt;
  }
  if (length > maxPayload_) {
    fail(Fault::Reason::oversized, "a frame of " + std::to_string(length) + " bytes is over the limit of " +
                                       std::to_string(maxPayload_));
    return std::nullopt;
  }
  if (available - kHeaderSize < length) {
    // Room for the rest at once, rather than twice what it needs by doubling.
    buffer_.reserve(consumed_ + kHeaderSize + length);
    return std::nullopt;
  }
  std::string problem;
  auto message = parsePayload(header + kHeaderSize, length, problem);
  if (!message) {
    fail(Fault::Reason::malformed, problem);
    return std::nullopt;
  }
  consumed_ += kHeaderSize + length;
  message->frameBytes = kHeaderSize + length;
  return message;
}

}  // namespace host::wire
