// The host suites a plug-in acquires by name and version through the basic
// suite (in_data->pica_basicP):
//   const PF_HelperSuite1* helper = nullptr;
//   if (!in_data->pica_basicP->AcquireSuite(kPFHelperSuite, kPFHelperSuiteVersion1,
//                                           reinterpret_cast<const void**>(&helper))) {
//     PF_SuiteTool tool = 0;
//     helper->GetCurrentTool(&tool);
//     in_data->pica_basicP->ReleaseSuite(kPFHelperSuite, kPFHelperSuiteVersion1);
//   }
// A failed acquisition answers an error and a NULL suite. Each suite holds
// exactly the calls listed here; the host serves them during a command.
#pragma once

#include <pf/api.h>

extern "C" {

// ---------------------------------------------------------------------------
// "PF AE App Suite" version 1: the host's fonts.
// ---------------------------------------------------------------------------
#define kPFAppSuite "PF AE App Suite"
#define kPFAppSuiteVersion1 1

// The host's named font styles ("style sheets").
enum {
  PF_FontStyle_NONE = 0,
  PF_FontStyle_SMALL = 1,  // the small system font
  PF_FontStyle_SMALL_BOLD = 2,
  PF_FontStyle_SMALL_ITALIC = 3,
  PF_FontStyle_MEDIUM = 4,
  PF_FontStyle_MEDIUM_BOLD = 5,
  PF_FontStyle_MEDIUM_ITALIC = 6,
  PF_FontStyle_NUM = 7
};
typedef A_long PF_FontStyleSheet;

// Style bits of a font.
enum { PF_FontFace_PLAIN = 0, PF_FontFace_BOLD = 1, PF_FontFace_ITALIC = 2 };

#define PF_FONT_NAME_LEN 255
typedef struct {
  A_char name[PF_FONT_NAME_LEN + 1];  // a font family installed on the system
} PF_FontName;

typedef struct PF_AppSuite1 {
  // The font of a style sheet: its family name, size in pixels and style
  // bits; any of the three may be NULL. On failure the name is empty.
  PF_Err (*GetFontStyleSheet)(PF_FontStyleSheet sheet, PF_FontName* font_name, A_short* size, A_short* style);
} PF_AppSuite1;

// ---------------------------------------------------------------------------
// "PF AE Adv App Suite" version 1: the host's windows.
// ---------------------------------------------------------------------------
#define kPFAdvAppSuite "PF AE Adv App Suite"
#define kPFAdvAppSuiteVersion1 1

typedef struct PF_AdvAppSuite1 {
  // Redraws every window of the host.
  PF_Err (*RefreshAllWindows)(void);
} PF_AdvAppSuite1;

// ---------------------------------------------------------------------------
// "AE Plugin Helper Suite" version 1: the host's tools.
// ---------------------------------------------------------------------------
#define kPFHelperSuite "AE Plugin Helper Suite"
#define kPFHelperSuiteVersion1 1

// The tool chosen in the host's tool bar; 1 is the arrow (selection) tool,
// other numbers are the host's other tools.
enum { PF_SuiteTool_NONE = 0, PF_SuiteTool_ARROW = 1 };
typedef A_long PF_SuiteTool;

typedef struct PF_HelperSuite1 {
  PF_Err (*GetCurrentTool)(PF_SuiteTool* tool);
} PF_HelperSuite1;

}  // extern "C"
