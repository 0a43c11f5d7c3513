// Menus built from a menu resource, with checked and disabled items, shown
// as a popup that tracks the pointer until the user picks an item or
// dismisses it.
//
// In the headless backend the popup takes the next menu answer of the
// scripts (headless.h) and records the menu as it was shown and what the
// answer did.
#pragma once

#include <ombrix/platform/types.h>

namespace ombrix::platform {

// A menu; opaque, valid until DestroyMenu of the menu it belongs to.
struct Menu;

// Item flags, in a menu resource and in the state functions (bits as the
// system defines them).
inline constexpr uint32_t kMfEnabled = 0x0000;
inline constexpr uint32_t kMfGrayed = 0x0001;
inline constexpr uint32_t kMfDisabled = 0x0002;
inline constexpr uint32_t kMfUnchecked = 0x0000;
inline constexpr uint32_t kMfChecked = 0x0008;
inline constexpr uint32_t kMfPopup = 0x0010;       // the item opens a submenu: the items that follow
inline constexpr uint32_t kMfEnd = 0x0080;         // the last item of its menu level
inline constexpr uint32_t kMfSeparator = 0x0800;   // a line between items
inline constexpr uint32_t kMfByCommand = 0x0000;   // the state functions find the item by its id
inline constexpr uint32_t kMfByPosition = 0x0400;  // ... or by its position in the menu given

// Answer of the state functions for an item that does not exist.
inline constexpr uint32_t kMenuNoItem = 0xFFFFFFFFu;

// One item of a menu resource. The items of a submenu follow their popup
// item; the last item of every level carries kMfEnd.
struct MenuResourceItem {
  uint32_t flags;
  int id;  // 0 for popups and separators
  const char* text;
};

struct MenuResource {
  const MenuResourceItem* items;
  int count;
};

// Builds the menu a resource describes (its top level: the menu bar).
// Null when the resource is missing or damaged (a level without its end, a
// popup with no items, items past the last end).
OMBRIX_PLATFORM_API Menu* LoadMenuResource(const MenuResource* resource) noexcept;
// Frees a menu built by LoadMenuResource with all its submenus; submenus
// themselves are freed with the menu they belong to (false for them).
OMBRIX_PLATFORM_API bool DestroyMenu(Menu* menu) noexcept;

// The submenu opened by the item at `position`, or null.
OMBRIX_PLATFORM_API Menu* GetSubMenu(Menu* menu, int position) noexcept;
// The number of items of this level; -1 for a null menu.
OMBRIX_PLATFORM_API int GetMenuItemCount(Menu* menu) noexcept;

// Checks or unchecks an item (kMfChecked or kMfUnchecked, with kMfByCommand
// searching submenus too, or kMfByPosition). Answers the previous check
// state, or kMenuNoItem.
OMBRIX_PLATFORM_API uint32_t CheckMenuItem(Menu* menu, int item, uint32_t flags) noexcept;
// Enables, grays or disables an item (a popup item by position: its whole
// submenu). Answers the previous state (kMfGrayed/kMfDisabled bits), or
// kMenuNoItem.
OMBRIX_PLATFORM_API uint32_t EnableMenuItem(Menu* menu, int item, uint32_t flags) noexcept;
// The state of an item: its kMfChecked, kMfGrayed, kMfDisabled, kMfPopup and
// kMfSeparator bits; kMenuNoItem when it does not exist.
OMBRIX_PLATFORM_API uint32_t GetMenuState(Menu* menu, int item, uint32_t flags) noexcept;

// Popup flags.
inline constexpr uint32_t kTpmLeftAlign = 0x0000;
inline constexpr uint32_t kTpmRightButton = 0x0002;
inline constexpr uint32_t kTpmReturnCmd = 0x0100;

// Shows `menu` as a popup at screen position (x, y) owned by `owner` and
// tracks it modally. Answers the id of the item chosen, or 0 when the menu
// was dismissed or could not be shown (null menu, an owner that is not a
// live window). Only an enabled command item in enabled submenus can be
// chosen.
OMBRIX_PLATFORM_API int TrackPopupMenu(Menu* menu, uint32_t flags, int x, int y, DialogWindow* owner) noexcept;

}  // namespace ombrix::platform
