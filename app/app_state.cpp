#include "app/app_state.h"

namespace tw {

AppState& GetAppState() {
  static AppState state;
  return state;
}

}  // namespace tw
