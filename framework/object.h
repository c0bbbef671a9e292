// Root of the class layer: a run-time class record (class name and base) that
// every dynamic class carries, in place of C++ RTTI for code that asks a
// window object what it is by name.
#pragma once

// One record per class, chained to its base's record. Immutable; any thread.
struct CRuntimeClass
{
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;

    bool IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

#define RUNTIME_CLASS(class_name) (&class_name::classRecord##class_name)

// In the class body: declares the record and the virtual that returns it.
#define DECLARE_DYNAMIC(class_name)                     \
public:                                                 \
    static const CRuntimeClass classRecord##class_name; \
    const CRuntimeClass* GetRuntimeClass() const override;

// In the source file: defines the record, chained to base_class's.
#define IMPLEMENT_DYNAMIC(class_name, base_class)                                                      \
    const CRuntimeClass class_name::classRecord##class_name = {#class_name, RUNTIME_CLASS(base_class)}; \
    const CRuntimeClass* class_name::GetRuntimeClass() const                                           \
    {                                                                                                  \
        return RUNTIME_CLASS(class_name);                                                              \
    }

// Plain C++ base of every class of the layer; no Win32 mechanism behind it.
class CObject
{
public:
    static const CRuntimeClass classRecordCObject;

    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    bool IsKindOf(const CRuntimeClass* pClass) const;

protected:
    CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};
