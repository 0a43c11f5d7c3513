// Menus from menu resources and the popup, headless and scripted.
//
// A menu is a tree of items; every menu of a tree is known by address while
// its tree lives, so a stale handle is refused rather than followed. The
// popup is answered by the queue of menu answers and records the menu as it
// was shown.
#include <ombrix/platform/headless.h>
#include <ombrix/platform/menu.h>

#include "internal.h"

#include <memory>
#include <mutex>
#include <set>

namespace ombrix::platform {

struct Menu;

namespace {

struct MenuItem {
  uint32_t flags = 0;  // kMfPopup, kMfSeparator, kMfChecked, kMfGrayed, kMfDisabled
  int id = 0;
  std::string text;
  std::unique_ptr<Menu> sub;
};

}  // namespace

struct Menu {
  std::vector<MenuItem> items;
  bool root = false;
};

namespace {

constexpr uint32_t kStateBits = kMfChecked | kMfGrayed | kMfDisabled;

struct MenuState {
  std::mutex mu;
  std::set<const Menu*> live;  // every menu of every tree, submenus included
};

MenuState& MS() {
  static MenuState* state = new MenuState;
  return *state;
}

detail::ScriptedAnswers<int, MenuRecord>& Popups() {
  static auto* popups = new detail::ScriptedAnswers<int, MenuRecord>;
  return *popups;
}

using Lock = std::lock_guard<std::mutex>;

// Reads the items of one level up to its end; false for a damaged level.
bool ReadLevel(const MenuResource& r, int* pos, Menu* menu, int depth) {
  if (depth > 16) return false;
  while (*pos < r.count) {
    const MenuResourceItem& in = r.items[(*pos)++];
    MenuItem item;
    item.flags = in.flags & (kStateBits | kMfPopup | kMfSeparator);
    item.id = in.flags & (kMfPopup | kMfSeparator) ? 0 : in.id;
    item.text = in.text ? in.text : "";
    if (in.flags & kMfPopup) {
      item.sub = std::make_unique<Menu>();
      if (!ReadLevel(r, pos, item.sub.get(), depth + 1)) return false;
    }
    menu->items.push_back(std::move(item));
    if (in.flags & kMfEnd) return true;
  }
  return false;
}

void Register(std::set<const Menu*>& live, const Menu* menu, bool add) {
  if (add) {
    live.insert(menu);
  } else {
    live.erase(menu);
  }
  for (const MenuItem& item : menu->items) {
    if (item.sub) Register(live, item.sub.get(), add);
  }
}

bool IsCommand(const MenuItem& item) { return !(item.flags & (kMfPopup | kMfSeparator)); }
bool IsEnabled(const MenuItem& item) { return !(item.flags & (kMfGrayed | kMfDisabled)); }

// The item `item` names by command (searching submenus) or by position.
MenuItem* FindItem(Menu* menu, int item, uint32_t flags) {
  if (flags & kMfByPosition) {
    return item >= 0 && size_t(item) < menu->items.size() ? &menu->items[size_t(item)] : nullptr;
  }
  for (MenuItem& it : menu->items) {
    if (IsCommand(it) && it.id == item) return &it;
    if (it.sub) {
      if (MenuItem* found = FindItem(it.sub.get(), item, flags)) return found;
    }
  }
  return nullptr;
}

// The live menu `menu` under the lock, or null.
Menu* LiveMenu(MenuState& s, Menu* menu) { return menu && s.live.count(menu) ? menu : nullptr; }

// The items of `menu` and its submenus, depth first, as the popup shows them.
void Describe(const Menu* menu, const std::string& prefix, int depth, bool reachable,
              std::vector<MenuItemRecord>* out) {
  for (const MenuItem& item : menu->items) {
    MenuItemRecord r;
    r.id = item.id;
    r.path = item.flags & kMfSeparator ? std::string() : prefix + item.text;
    r.depth = depth;
    r.popup = item.sub != nullptr;
    r.separator = (item.flags & kMfSeparator) != 0;
    r.checked = (item.flags & kMfChecked) != 0;
    r.enabled = IsEnabled(item);
    r.reachable = reachable && r.enabled;
    out->push_back(r);
    if (item.sub) Describe(item.sub.get(), r.path + " > ", depth + 1, r.reachable, out);
  }
}

}  // namespace

Menu* LoadMenuResource(const MenuResource* resource) noexcept try {
  if (!resource || !resource->items || resource->count <= 0) return nullptr;
  auto menu = std::make_unique<Menu>();
  menu->root = true;
  int pos = 0;
  if (!ReadLevel(*resource, &pos, menu.get(), 0) || pos != resource->count) return nullptr;
  MenuState& s = MS();
  Lock lock(s.mu);
  Register(s.live, menu.get(), true);
  return menu.release();
} catch (...) {
  return nullptr;
}

bool DestroyMenu(Menu* menu) noexcept {
  MenuState& s = MS();
  Lock lock(s.mu);
  if (!LiveMenu(s, menu) || !menu->root) return false;
  Register(s.live, menu, false);
  delete menu;
  return true;
}

Menu* GetSubMenu(Menu* menu, int position) noexcept {
  MenuState& s = MS();
  Lock lock(s.mu);
  if (!LiveMenu(s, menu) || position < 0 || size_t(position) >= menu->items.size()) return nullptr;
  return menu->items[size_t(position)].sub.get();
}

int GetMenuItemCount(Menu* menu) noexcept {
  MenuState& s = MS();
  Lock lock(s.mu);
  return LiveMenu(s, menu) ? int(menu->items.size()) : -1;
}

uint32_t CheckMenuItem(Menu* menu, int item, uint32_t flags) noexcept {
  MenuState& s = MS();
  Lock lock(s.mu);
  MenuItem* it = LiveMenu(s, menu) ? FindItem(menu, item, flags) : nullptr;
  if (!it) return kMenuNoItem;
  const uint32_t before = it->flags & kMfChecked;
  it->flags = (it->flags & ~kMfChecked) | (flags & kMfChecked);
  return before;
}

uint32_t EnableMenuItem(Menu* menu, int item, uint32_t flags) noexcept {
  MenuState& s = MS();
  Lock lock(s.mu);
  MenuItem* it = LiveMenu(s, menu) ? FindItem(menu, item, flags) : nullptr;
  if (!it) return kMenuNoItem;
  const uint32_t before = it->flags & (kMfGrayed | kMfDisabled);
  it->flags = (it->flags & ~(kMfGrayed | kMfDisabled)) | (flags & (kMfGrayed | kMfDisabled));
  return before;
}

uint32_t GetMenuState(Menu* menu, int item, uint32_t flags) noexcept {
  MenuState& s = MS();
  Lock lock(s.mu);
  const MenuItem* it = LiveMenu(s, menu) ? FindItem(menu, item, flags) : nullptr;
  return it ? it->flags : kMenuNoItem;
}

int TrackPopupMenu(Menu* menu, uint32_t flags, int x, int y, DialogWindow* owner) noexcept try {
  MenuRecord record;
  record.x = x;
  record.y = y;
  record.flags = flags;
  const bool owner_live = detail::OwnerTitle(owner, &record.owner);
  {
    MenuState& s = MS();
    Lock lock(s.mu);
    if (LiveMenu(s, menu)) Describe(menu, "", 0, true, &record.items);
    if (!LiveMenu(s, menu) || !owner_live) {
      record.outcome = MenuOutcome::kNotShown;
      record.error = owner_live ? "the menu does not exist" : "the owner window does not exist";
      Popups().Add(std::move(record));
      return 0;
    }
  }
  const std::optional<int> answer = Popups().Take();
  record.outcome = answer ? MenuOutcome::kDismissed : MenuOutcome::kUnanswered;
  record.answer = answer.value_or(0);
  if (record.answer != 0) {
    record.outcome = MenuOutcome::kNoSuchItem;
    for (const MenuItemRecord& item : record.items) {
      if (item.popup || item.separator || item.id != record.answer) continue;
      record.item = item.path;
      record.outcome = item.reachable ? MenuOutcome::kChosen : MenuOutcome::kDisabled;
      break;
    }
  }
  if (record.outcome == MenuOutcome::kChosen) record.chosen = record.answer;
  const int chosen = record.chosen;
  Popups().Add(std::move(record));
  return chosen;
} catch (...) {
  return 0;
}

void PushMenuAnswer(int id) { Popups().Push(id); }
void ClearMenuAnswers() { Popups().ClearAnswers(); }
size_t PendingMenuAnswers() { return Popups().Pending(); }
std::vector<MenuRecord> MenuRecords() { return Popups().Records(); }
void ClearMenuRecords() { Popups().ClearRecords(); }

}  // namespace ombrix::platform
