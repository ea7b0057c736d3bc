#pragma once
// Subscript access by item name for a store with Get and Set (Configuration,
// Prefs): `store["Name"]` reads through Get, `store["Name"] = value` writes
// through Set. Borrows the store, so it must not outlive it.

#include <nlohmann/json.hpp>
#include <string>
#include <utility>

template <class Store>
class ItemAccess {
 public:
  ItemAccess(Store& store, std::string name) : mStore(store), mName(std::move(name)) {}

  ItemAccess& operator=(nlohmann::json value) {
    mStore.Set(mName, std::move(value));
    return *this;
  }
  // Raises the store's not-found exception when the item is missing.
  operator nlohmann::json() const { return mStore.Get(mName); }

 private:
  Store& mStore;
  std::string mName;
};
