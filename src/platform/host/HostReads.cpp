#include "platform/host/HostReads.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "platform/PrivateSymbols.h"
#include "platform/host/SharedCount.h"
#include "platform/sim/WindowServer.h"
#include "platform/sim/World.h"

namespace host {

using nlohmann::json;
using wire::field;
using wire::read;

namespace {

// Questions whose answers follow from counted state alone, each with the count that moves
// when its answer may have: those that read nothing of the desk (displays, permissions, the
// pointer) stand while only the desk's windows, Spaces and apps change, so a program's own
// window changes move past none of them.
const std::map<std::string, SharedCount::Slot>& countedQuestions() {
  static const std::map<std::string, SharedCount::Slot> slots = {
      {"screens", SharedCount::beyondDesk},
      {"screenCaptureAllowed", SharedCount::beyondDesk},
      {"pointerLocation", SharedCount::beyondDesk},
      {"runningApplications", SharedCount::world},
      {"symbol", SharedCount::world},
      {"libraryExists", SharedCount::world},
      {"ownProcessIdentifier", SharedCount::world},
      {"private.SLSMainConnectionID", SharedCount::world},
      {"private.SLSCopyManagedDisplaySpaces", SharedCount::world}};
  return slots;
}
// Questions whose answers never change.
const std::set<std::string>& lastingQuestions() {
  static const std::set<std::string> names = {"applicationDomainName"};
  return names;
}

}  // namespace

double axTimeoutOf(const json& request) {
  const double t = field<double>(request, "t");
  if (!std::isfinite(t) || t <= 0) return 0;
  return std::min(t, kLongestAXTimeout);
}

HostReads::HostReads(sim::World& world, sim::WindowServer& server, const SharedCount* count)
    : world_(world), server_(server), count_(count) {}

std::uint64_t HostReads::countNow(int slot) const {
  return count_ ? count_->load(static_cast<SharedCount::Slot>(slot)) : 0;
}

json HostReads::read(const json& request, const Ask& ask) {
  const auto method = field<std::string>(request, "m");
  const json body = field<json>(request, "v");
  if (lastingQuestions().count(method)) return json{{"always", true}, {"v", ask(method, body)}};
  const auto question = countedQuestions().find(method);
  const bool isCounted = question != countedQuestions().end();
  const SharedCount::Slot slot = isCounted ? question->second : SharedCount::world;
  const std::uint64_t before = countNow(slot);
  json answer = ask(method, body);
  // An answer holds at a count only when nothing changed while it was read, and nothing
  // (a Space slide) changes the desk with time alone.
  const bool counted = isCounted && !server_.changesWithTime();
  const std::uint64_t tag = counted && countNow(slot) == before ? before : 0;
  json reply{{"g", tag}, {"v", std::move(answer)}};
  if (slot != SharedCount::world) reply["s"] = slot;
  return reply;
}

json HostReads::ownWindows(const std::set<std::uint32_t>& numbers) {
  const std::uint64_t before = countNow();
  json rows = json::array();
  for (const std::uint32_t number : numbers) {
    if (const auto status = server_.ownWindowStatus(number)) rows.push_back(json::array({number, wire::encode(*status)}));
  }
  const std::uint64_t tag = !server_.changesWithTime() && countNow() == before ? before : 0;
  return json{{"g", tag}, {"w", std::move(rows)}};
}

HostReads::OwnWindowChanges HostReads::ownWindowChanges(std::uint32_t also) {
  const std::uint64_t before = countNow();
  auto taken = server_.takeOwnWindowChanges(also);
  OwnWindowChanges changes;
  changes.all = taken.all;
  changes.windows.reserve(taken.windows.size());
  for (const auto& [number, status] : taken.windows) {
    changes.windows.emplace_back(number, status ? wire::encode(*status) : json());
  }
  changes.tag = !server_.changesWithTime() && countNow() == before ? before : 0;
  return changes;
}

json HostReads::rows(const json& request) {
  const auto kind = field<std::string>(request, "kind");
  const auto have = field<std::uint64_t>(request, "have");
  const std::uint64_t before = countNow();
  json reply;
  if (kind == "windows") {
    reply = answerRows(windows_, have, 0, server_.windowList());
  } else if (kind == "ax") {
    reply = answerRows(accessibility_, have, 0, accessibilityRows(request));
  } else if (kind == "spaces") {
    const auto mask = field<std::int32_t>(request, "mask");
    reply = answerRows(spaces_, have, mask, spaceRows(field<CGSConnectionID>(request, "cid"), mask));
  } else {
    throw wire::BadValue("no table " + kind);
  }
  reply["g"] = !server_.changesWithTime() && countNow() == before ? before : 0;
  return reply;
}

template <typename Row>
json HostReads::answerRows(Sent<Row>& sent, std::uint64_t have, std::int64_t variant, std::vector<Row> rows) {
  static const std::vector<Row> none;
  std::lock_guard lock(mutex_);
  // Changes only against the table the program says it holds; anything else goes whole.
  const bool known = have != 0 && have == sent.seq && variant == sent.variant;
  json pieces = reads::delta(known ? sent.rows : none, rows);
  sent.seq = nextSeq_++;
  sent.variant = variant;
  sent.rows = std::move(rows);
  return json{{"seq", sent.seq}, {"base", known ? have : 0}, {"pieces", std::move(pieces)}};
}

std::vector<reads::AXRow> HostReads::accessibilityRows(const json& request) {
  const auto timeout = axTimeoutOf(request);
  std::vector<std::int32_t> pids;
  if (const json& asked = field<json>(request, "pids"); !asked.is_null()) {
    pids = wire::read<std::vector<std::int32_t>>(asked);
  } else {
    for (const auto& app : server_.runningApplications()) pids.push_back(app.pid);
  }
  auto* getWindow =
      privateFunction<AXUIElementGetWindow_t>(world_, kApplicationServicesPath, "_AXUIElementGetWindow");
  auto windowOf = [&](AXElementID element) -> std::optional<std::pair<AXError, std::uint32_t>> {
    if (!getWindow) return std::nullopt;
    std::uint32_t number = 0;
    const AXError error = getWindow(AXUIElementMake(element), &number);
    return std::make_pair(error, error == kAXErrorSuccess ? number : 0);
  };
  std::vector<reads::AXRow> rows;
  for (std::int32_t pid : pids) {
    // An app that does not answer at once is asked only by the question itself, which
    // waits for it as the program would.
    const auto app = server_.app(pid);
    if (!app || app->accessibilityHung) continue;
    const AXElementID appElement{pid, kAXApplicationElementID};
    reads::AXRow appRow{appElement, {}, std::nullopt};
    for (const std::string& attribute : reads::appAttributes()) {
      appRow.answers.push_back(server_.axCopyAttribute(appElement, attribute, timeout));
    }
    rows.push_back(appRow);
    // The elements the app names: its windows (asked the window attributes), then its
    // focused and main window, each once.
    std::set<AXElementID> named;
    for (std::size_t i = 0; i < appRow.answers.size(); ++i) {
      std::vector<AXElementID> elements;
      const AXValue& value = appRow.answers[i].value;
      if (const auto* items = value.asArray()) {
        for (const AXValue& item : *items) {
          if (auto id = item.asElementID()) elements.push_back(*id);
        }
      } else if (auto id = value.asElementID()) {
        elements.push_back(*id);
      }
      for (const AXElementID& element : elements) {
        if (!named.insert(element).second) continue;
        reads::AXRow row{element, {}, windowOf(element)};
        if (i == 0) {
          for (const std::string& attribute : reads::windowAttributes()) {
            row.answers.push_back(server_.axCopyAttribute(element, attribute, timeout));
          }
        }
        rows.push_back(std::move(row));
      }
    }
  }
  return rows;
}

std::vector<reads::SpaceRow> HostReads::spaceRows(std::int32_t cid, std::int32_t mask) {
  auto* spaces = privateFunction<SLSCopySpacesForWindows_t>(world_, kSkyLightPath, "SLSCopySpacesForWindows");
  auto* orderedIn = privateFunction<SLSWindowIsOrderedIn_t>(world_, kSkyLightPath, "SLSWindowIsOrderedIn");
  std::vector<reads::SpaceRow> rows;
  if (!spaces || !orderedIn) return rows;
  for (const platform::WindowEntry& entry : server_.windowList()) {
    reads::SpaceRow row;
    row.window = entry.number;
    if (auto answer = spaces(cid, mask, platform::PlistArray{platform::PlistValue(entry.number)})) {
      row.spaces.emplace();
      for (const auto& item : *answer) {
        if (auto id = item.asInteger()) row.spaces->push_back(*id);
      }
    }
    row.orderedInError = orderedIn(cid, entry.number, &row.orderedIn);
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace host
