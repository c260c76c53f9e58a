// ui_state.cpp - the screens' shared state.
#include "screens/ui_state.h"

UiState& ui() {
    static UiState state;
    return state;
}
