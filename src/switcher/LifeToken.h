#pragma once
// What an object hands the work it queues so the work can tell, when it runs, whether the
// object is still there: work holds a watch and does nothing once the token has gone
// with its owner. A watch may be checked on any thread.

#include <memory>

namespace trelliq {

class LifeToken {
 public:
  /// A watch on this token: expired once the token is destroyed.
  std::weak_ptr<int> watch() const { return life_; }

 private:
  std::shared_ptr<int> life_ = std::make_shared<int>(0);
};

}  // namespace trelliq
