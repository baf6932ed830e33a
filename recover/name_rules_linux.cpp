#include "recover/target_name.h"

namespace recover {

TNameRules HostNameRules() {
    return TNameRules::Posix;
}

}  // namespace recover
