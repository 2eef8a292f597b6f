#include "workspace/FrontToBack.h"

#include <cmath>
#include <optional>
#include <string>

#include "platform/PrivateSymbols.h"
#include "workspace/UnpublishedFunctions.h"

namespace trelliq {

std::vector<std::int32_t> FrontToBack::pids() {
  auto* copyArray = UnpublishedFunctions::copyApplicationsFrontToBack();
  auto* copyInfo = UnpublishedFunctions::copyApplicationInformationItem();
  const std::optional<LSPIDKey_t> pidKey = UnpublishedFunctions::pidKey();
  if (!copyArray || !copyInfo || !pidKey) return {};
  auto applications = copyArray(session);
  if (!applications) return {};
  std::vector<std::int32_t> result;
  result.reserve(applications->size());
  for (const auto& application : *applications) {
    auto item = copyInfo(session, application, *pidKey);
    if (!item || !item->isNumber()) continue;
    if (auto whole = item->asInteger()) {
      result.push_back(static_cast<std::int32_t>(*whole));
    } else if (auto real = item->asDouble(); real && std::isfinite(*real) && std::fabs(*real) < 2147483648.0) {
      result.push_back(static_cast<std::int32_t>(*real));
    }
  }
  return result;
}

}  // namespace trelliq
