#pragma once

#include "app/dialog_template.h"

namespace tarnwick {

// Control ids of the main dialog.
enum MainControl : int {
  kExitButton = 1,
  kRunButton = 1001,
  kHtmlSizeEdit = 1002,
  kHtmlCheck = 1003,  // the eight category check boxes are 1003..1010 in category order
  kTxtSizeEdit = 1011,
  kImgSizeEdit = 1012,
  kMidiSizeEdit = 1013,
  kAudioSizeEdit = 1014,
  kVideoSizeEdit = 1015,
  kRealoneSizeEdit = 1016,
  kZipSizeEdit = 1017,
  kDepthEdit = 1018,
  kStartUrlEdit = 1000,
  kTreeRadio = 1021,
  kDateRadio = 1022,
  kResultButton = 1023,
  kResultList = 1024,
  kStatusLine = 1025,
  kParameterLine = 1026,
  kHelpButton = 1027,
};

// The main window's caption, which message boxes take as their title.
inline constexpr const char* kProgramTitle = "Tarnwick";
// Short enough for the manual dialog's one-line label to show it whole.
inline constexpr const char* kManualPageUrl = "http://corvane.example/tarnwick/help/";
inline constexpr const char* kSisterPageUrl = "http://www.corvane.example/fellhound/";

extern const DialogTemplate kMainDialogTemplate;
extern const DialogTemplate kAboutDialogTemplate;
extern const DialogTemplate kExitConfirmTemplate;
extern const DialogTemplate kManualLaunchTemplate;
extern const DialogTemplate kSisterIntroTemplate;

}  // namespace tarnwick
