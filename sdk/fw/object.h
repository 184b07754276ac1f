// CObject and the run-time class registry: the framework's serializable object base.
//
// A persistent class registers a CRuntimeClass (class name, schema number, factory) once, with
// FW_IMPLEMENT_SERIAL in its source file. The archive reader reads an object of the class it
// expects with that class's own factory; it looks a stored name up (FindRuntimeClass) only to
// tell which failure another name is, or when it expects no particular class. Names compare
// exactly (case counts).
#pragma once

#include <cstdint>
#include <memory>

#include "fw/export.h"

class CArchive;
class CObject;

struct FW_API CRuntimeClass {
  const char* class_name;
  uint16_t schema;
  // Creates a new object with its default constructor; null for abstract classes.
  std::unique_ptr<CObject> (*create)();

  std::unique_ptr<CObject> CreateObject() const;
};

class FW_API CObject {
 public:
  CObject() = default;
  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;
  virtual ~CObject();

  virtual const CRuntimeClass* GetRuntimeClass() const;
  virtual void Serialize(CArchive& ar);
  virtual void AssertValid() const {}
  virtual void Dump() const {}
};

// Class names of this many bytes or more are refused by the registry and by archive readers.
inline constexpr size_t kMaxClassNameLength = 64;

// Registers a class (false for a name that is empty or too long). A class registered later under
// the same name shadows the earlier one until it is unregistered.
FW_API bool RegisterRuntimeClass(const CRuntimeClass* rtc);
// Forgets a class registered by RegisterRuntimeClass (a module being unloaded).
FW_API void UnregisterRuntimeClass(const CRuntimeClass* rtc);

// Registers a class for as long as the module that holds it stays loaded.
class FW_API CRuntimeClassRegistrar {
 public:
  explicit CRuntimeClassRegistrar(const CRuntimeClass* rtc);
  ~CRuntimeClassRegistrar();
  CRuntimeClassRegistrar(const CRuntimeClassRegistrar&) = delete;
  CRuntimeClassRegistrar& operator=(const CRuntimeClassRegistrar&) = delete;

 private:
  const CRuntimeClass* rtc_;
  bool registered_;
};
// The class registered under exactly this name, or null.
FW_API const CRuntimeClass* FindRuntimeClass(const char* name, size_t length);

// In a class declaration: the run-time class of a serializable class.
#define FW_DECLARE_SERIAL(Class)                          \
 public:                                                  \
  static const CRuntimeClass kRuntimeClass;               \
  const CRuntimeClass* GetRuntimeClass() const override { \
    return &kRuntimeClass;                                \
  }

// In the class's source file: its name, schema, factory and registration at load time.
#define FW_IMPLEMENT_SERIAL(Class, schema_number)                              \
  const CRuntimeClass Class::kRuntimeClass = {                                 \
      #Class, schema_number,                                                   \
      []() -> std::unique_ptr<CObject> { return std::make_unique<Class>(); }}; \
  namespace {                                                                  \
  const CRuntimeClassRegistrar registrar_##Class(&Class::kRuntimeClass);       \
  }
