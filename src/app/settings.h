#pragma once

#include "app/form_values.h"

namespace tarnwick {

class ProfileStore;

// Reads every key of section "Tarnwick", with the defaults for what is missing.
FormValues loadSettings(ProfileStore& store);
// Writes every key from `form`; "counter" becomes the value read at start plus one.
void saveSettings(ProfileStore& store, const FormValues& form);

}  // namespace tarnwick
