// What the settings need of their data-source list ("Servers") until the list itself is linked in:
// a factory installs the real list; without one the settings keep no sources and leave "Servers"
// as it is.
#pragma once
#include <cstdint>

#include "engine/foundation/cstring.h"
#include "platform/errors.h"

class IDataSourceList {
 public:
  virtual ~IDataSourceList() = default;
  virtual void Empty() = 0;
  // Replaces the list with copies of the other's sources; false when out of memory.
  virtual bool CopyFrom(const IDataSourceList& other) = 0;
  // Reads "Servers"; when it does not exist, the one source of older versions made of these texts.
  virtual HRESULT Load(const char* oldAddress, const char* oldFilter, const char* oldUserId, const char* oldUserName,
                       const char* oldPassword) = 0;
  // Rewrites "Servers" (the caller holds the store transaction).
  virtual HRESULT Save() const = 0;
  // The address and filter of the default data source; false when there is none.
  virtual bool GetDefaultDataSource(CStringA& address, CStringA& filter) const = 0;
};

using DataSourceListFactory = IDataSourceList* (*)();
// Installs the factory that new settings blocks take their list from (null: no sources).
void SetDataSourceListFactory(DataSourceListFactory factory);
// A new list from the factory, or the empty stand-in; null only when out of memory.
IDataSourceList* NewDataSourceList();
