#include "recover/target_name.h"

namespace recover {

TNameRules HostNameRules() {
    return TNameRules::Windows;
}

}  // namespace recover
