// The extension module `velkor_compile._velkor_compile`: the one place that
// touches the Python C API. It binds `Compiler.command` to the core's
// `dispatch_command`, ties each handle to the thread that created it and decides
// what reaches Python as an exception (argument binding, thread binding, an
// internal fault of the core); every domain failure comes back in-band as the
// core's error document.
//
// Built against the stable ABI of Python 3.10 (one `abi3` library for every
// later interpreter), so only limited-API calls are used: heap types created
// from specs, per-module state and multi-phase initialisation. No C++ static
// holds a Python object, so several module instances and interpreters coexist.

#define PY_SSIZE_T_CLEAN
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#include <Python.h>

#if Py_LIMITED_API + 0 != 0x030A0000
#error "the module targets the Python 3.10 stable ABI"
#endif

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include <atomic>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "velkor/compiler.h"

namespace {

// The handle's type as named in the unsendable messages.
constexpr char kHandleTypeName[] = "_velkor_compile::PyCompiler";
constexpr char kSentToOtherThread[] =
    "_velkor_compile::PyCompiler is unsendable, but sent to another thread";
constexpr char kDroppedOnOtherThread[] =
    "_velkor_compile::PyCompiler is unsendable, but is being dropped on another thread";
static_assert(std::string_view(kSentToOtherThread).starts_with(kHandleTypeName));
static_assert(std::string_view(kDroppedOnOtherThread).starts_with(kHandleTypeName));

// Key of the panic exception class in the interpreter's extension dict.
constexpr char kPanicExceptionKey[] = "velkor_compile.PanicException";

// ---------------------------------------------------------------------------
// Thread identity.
//
// Each OS thread gets a serial number the first time it asks; serials are never
// reused. The interpreter's thread ident is not used because the C library hands
// a finished thread's ident to the next thread it starts, which would let a new
// thread adopt a handle whose creating thread has ended.

std::uint64_t current_thread_serial() {
  static std::atomic<std::uint64_t> next_serial{1};
  thread_local const std::uint64_t serial =
      next_serial.fetch_add(1, std::memory_order_relaxed);
  return serial;
}

// ---------------------------------------------------------------------------
// Module state: strong references to what the handle's methods need.

struct ModuleState {
  PyObject* compiler_type;
  PyObject* panic_exception;
};

ModuleState* module_state(PyObject* module) {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

// ---------------------------------------------------------------------------
// PanicException: one class per interpreter.
//
// A module instance is created per import (multi-phase initialisation), so a
// class made in the exec slot would differ between two instances in the same
// interpreter and `except PanicException` written against one would miss the
// other's. The class is therefore kept in the interpreter's dict for extension
// state (PyInterpreterState_GetDict) under kPanicExceptionKey: the first module
// instance creates it, later ones reuse it, and the interpreter drops it when
// it is finalised. Each sub-interpreter has its own dict, hence its own class.

constexpr char kPanicExceptionDoc[] =
    "Raised when the compiler hits an internal fault (a broken invariant, memory\n"
    "exhaustion) or a handle is used from a thread other than its creator.\n\n"
    "Derives from BaseException, so `except Exception` does not catch it.";

// Returns a new reference to the interpreter's PanicException class.
PyObject* interpreter_panic_exception() {
  PyObject* interpreter_dict = PyInterpreterState_GetDict(PyInterpreterState_Get());
  if (interpreter_dict != nullptr) {
    PyObject* cached = PyDict_GetItemString(interpreter_dict, kPanicExceptionKey);
    if (cached != nullptr) {
      Py_INCREF(cached);
      return cached;
    }
  }
  PyObject* created = PyErr_NewExceptionWithDoc(
      "velkor_compile.PanicException", kPanicExceptionDoc, PyExc_BaseException, nullptr);
  if (created == nullptr) return nullptr;
  // Without an interpreter dict the class cannot be shared; this module
  // instance then keeps its own.
  if (interpreter_dict != nullptr &&
      PyDict_SetItemString(interpreter_dict, kPanicExceptionKey, created) < 0) {
    Py_DECREF(created);
    return nullptr;
  }
  return created;
}

// ---------------------------------------------------------------------------
// The handle.

struct CompilerObject {
  PyObject_HEAD
  // Owned; freed with the handle, on whichever thread drops it.
  velkor::CompilerState* state;
  // current_thread_serial() of the creating thread.
  std::uint64_t owner_thread;
  // Taken while a command runs on this handle.
  bool in_use;
};

CompilerObject* as_compiler(PyObject* self) {
  return reinterpret_cast<CompilerObject*>(self);
}

PyObject* compiler_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (PyTuple_Size(args) != 0 || (kwargs != nullptr && PyDict_Size(kwargs) != 0)) {
    PyErr_SetString(PyExc_TypeError, "Compiler() takes no arguments");
    return nullptr;
  }

  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (self == nullptr) return nullptr;
  CompilerObject* handle = as_compiler(self);
  handle->owner_thread = current_thread_serial();
  handle->in_use = false;
  handle->state = new (std::nothrow) velkor::CompilerState();
  if (handle->state == nullptr) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  return self;
}

// Reports a handle released on a foreign thread through the unraisable hook.
// The hook is given the handle's type, not the handle: the handle is being
// deallocated and must not be handed to Python code that could keep it.
void report_foreign_drop(PyTypeObject* type) {
  PyObject *saved_type, *saved_value, *saved_traceback;
  PyErr_Fetch(&saved_type, &saved_value, &saved_traceback);
  PyErr_SetString(PyExc_RuntimeError, kDroppedOnOtherThread);
  PyErr_WriteUnraisable(reinterpret_cast<PyObject*>(type));
  PyErr_Restore(saved_type, saved_value, saved_traceback);
}

void compiler_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  CompilerObject* handle = as_compiler(self);
  // A foreign thread is reported, but the state is still freed: it is plain
  // memory with no thread affinity (no Python objects, no thread-local data),
  // and keeping it would leak every cached artifact for the rest of the process.
  if (handle->state != nullptr && handle->owner_thread != current_thread_serial()) {
    report_foreign_drop(type);
  }
  delete handle->state;
  handle->state = nullptr;
  auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_object(self);
  // Instances of heap types own a reference to their type.
  Py_DECREF(type);
}

// Marks the handle taken for its lifetime; released on every way out.
class ExclusiveUse {
 public:
  explicit ExclusiveUse(bool& flag) : flag_(flag) { flag_ = true; }
  ~ExclusiveUse() { flag_ = false; }
  ExclusiveUse(const ExclusiveUse&) = delete;
  ExclusiveUse& operator=(const ExclusiveUse&) = delete;

 private:
  bool& flag_;
};

// A strong reference, dropped on every way out.
class StrongRef {
 public:
  explicit StrongRef(PyObject* object) : object_(object) { Py_INCREF(object_); }
  ~StrongRef() { Py_DECREF(object_); }
  StrongRef(const StrongRef&) = delete;
  StrongRef& operator=(const StrongRef&) = delete;

 private:
  PyObject* object_;
};

// The interpreter lock released for its lifetime, and taken back on every
// way out. In between, reacquire() and release() let the calling thread run
// Python briefly.
class LockReleased {
 public:
  LockReleased() : saved_(PyEval_SaveThread()) {}
  ~LockReleased() { reacquire(); }
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;

  void reacquire() {
    if (saved_ == nullptr) return;
    PyEval_RestoreThread(std::exchange(saved_, nullptr));
  }
  void release() {
    if (saved_ == nullptr) saved_ = PyEval_SaveThread();
  }

 private:
  PyThreadState* saved_;
};

// What a call of `command` passes: `cmd_json` (by position or keyword) and,
// by keyword only, `stop`.
struct CommandArguments {
  PyObject* cmd_json = nullptr;  // borrowed
  PyObject* stop = nullptr;      // borrowed; null when absent or None
};

// Binds `command`'s parameters, with the interpreter's own wording for calls
// that do not fit. False with TypeError set.
bool bind_command_arguments(PyObject* args, PyObject* kwargs, CommandArguments& bound) {
  const Py_ssize_t positional = PyTuple_Size(args);
  if (positional < 0) return false;
  if (positional > 1) {
    PyErr_Format(PyExc_TypeError, "command() takes 1 positional argument but %zd were given",
                 positional);
    return false;
  }
  bound.cmd_json = positional == 1 ? PyTuple_GetItem(args, 0) : nullptr;
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &position, &name, &value)) {
      if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "stop") == 0) {
        bound.stop = value == Py_None ? nullptr : value;
        continue;
      }
      if (!PyUnicode_Check(name) || PyUnicode_CompareWithASCIIString(name, "cmd_json") != 0) {
        PyErr_Format(PyExc_TypeError, "command() got an unexpected keyword argument '%S'", name);
        return false;
      }
      if (bound.cmd_json != nullptr) {
        PyErr_SetString(PyExc_TypeError, "command() got multiple values for argument 'cmd_json'");
        return false;
      }
      bound.cmd_json = value;
    }
  }
  if (bound.cmd_json == nullptr) {
    PyErr_SetString(PyExc_TypeError,
                    "command() missing 1 required positional argument: 'cmd_json'");
    return false;
  }
  if (bound.stop != nullptr && PyCallable_Check(bound.stop) == 0) {
    PyErr_SetString(PyExc_TypeError, "argument 'stop': must be callable or None");
    return false;
  }
  return true;
}

// Whether `stop` (a callable, or null) asks the command to stop. A stop that
// raises stops it too, and its exception is the one reported.
bool stop_asked(PyObject* stop) {
  if (stop == nullptr) return false;
  PyObject* answer = PyObject_CallObject(stop, nullptr);
  if (answer == nullptr) return true;
  const int truth = PyObject_IsTrue(answer);
  Py_DECREF(answer);
  return truth != 0;  // -1, an exception raised by its truth, stops as well
}

// Raises the TypeError for a `cmd_json` that is not a str.
void raise_not_str(PyObject* given) {
  PyObject* type_name =
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(given)), "__name__");
  if (type_name == nullptr) {
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError,
                    "argument 'cmd_json': the object is not an instance of 'str'");
    return;
  }
  PyErr_Format(PyExc_TypeError, "argument 'cmd_json': '%U' object is not an instance of 'str'",
               type_name);
  Py_DECREF(type_name);
}

// Converts the core's response to a str. A response that is not UTF-8 is a
// broken invariant of the core and is reported as such.
PyObject* response_to_str(const std::string& response, PyObject* panic_exception) {
  PyObject* text =
      PyUnicode_FromStringAndSize(response.data(), static_cast<Py_ssize_t>(response.size()));
  if (text == nullptr && PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
    PyErr_Clear();
    PyErr_SetString(panic_exception, "the compiler's response is not valid UTF-8");
  }
  return text;
}

// Sets `response` as the attribute "answer" of the exception being raised, so
// that a caller who catches an interrupt can tell how far the command got: the
// answer it ended with (a stop before cargo, a build that cargo ended, one
// that succeeded). An exception that takes no attributes goes without it.
void attach_answer(const std::string& response) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyObject* answer =
      PyUnicode_FromStringAndSize(response.data(), static_cast<Py_ssize_t>(response.size()));
  if (answer == nullptr || value == nullptr || PyObject_SetAttrString(value, "answer", answer) < 0) {
    PyErr_Clear();
  }
  Py_XDECREF(answer);
  PyErr_Restore(type, value, traceback);
}

PyObject* compiler_command(PyObject* self, PyObject* args, PyObject* kwargs) {
  CommandArguments arguments;
  if (!bind_command_arguments(args, kwargs, arguments)) return nullptr;
  PyObject* cmd_json = arguments.cmd_json;

  ModuleState* module = static_cast<ModuleState*>(PyType_GetModuleState(Py_TYPE(self)));
  if (module == nullptr) return nullptr;
  CompilerObject* handle = as_compiler(self);
  if (handle->owner_thread != current_thread_serial()) {
    PyErr_SetString(module->panic_exception, kSentToOtherThread);
    return nullptr;
  }
  // Reachable only if a command re-enters Python code that calls back into the
  // same handle; the core calls no Python, but the state must never be shared
  // by two commands at once.
  if (handle->in_use) {
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    return nullptr;
  }
  ExclusiveUse taken(handle->in_use);

  if (!PyUnicode_Check(cmd_json)) {
    raise_not_str(cmd_json);
    return nullptr;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(cmd_json, &size);
  if (utf8 == nullptr) return nullptr;  // lone surrogates: the interpreter's encode error
  // The UTF-8 form is kept by the str, which cannot change, until the str
  // goes: the binding's own reference keeps it for the command, whatever
  // other threads do with the arguments meanwhile.
  StrongRef text_owner(cmd_json);
  // Kept alive for the command too: the hook calls it with the lock released between calls.
  std::optional<StrongRef> stop_owner;
  if (arguments.stop != nullptr) stop_owner.emplace(arguments.stop);

  // The interpreter lock is released while the core works (reading and
  // hashing a request, writing the project, the whole cargo build), so other
  // Python threads run meanwhile and handles on several threads build at
  // once. Nothing of a handle is shared: its state is used by its own thread
  // alone, under its exclusive-use flag. The core calls no Python but the
  // hook, which takes the lock back to ask for pending signals: a Ctrl-C (or
  // whatever handler raises) stops a compile before cargo starts, or ends
  // cargo and what it started while it builds; the KeyboardInterrupt then
  // leaves here instead of the answer, once cargo has stopped.
  try {
    std::string response;
    {
      LockReleased released;
      bool stopped = false;
      velkor::CommandHooks hooks;
      PyObject* stop = arguments.stop;
      hooks.stop_requested = [&released, &stopped, stop] {
        if (stopped) return true;  // the exception raised stays the one reported
        released.reacquire();
        // Signals are handled on the main thread alone; `stop` lets a caller
        // on any thread (a pool of builds, a server cancelling a request) stop
        // its own command.
        stopped = PyErr_CheckSignals() < 0 || stop_asked(stop);
        released.release();
        return stopped;
      };
      response = velkor::dispatch_command(
          *handle->state, std::string_view(utf8, static_cast<std::size_t>(size)), hooks);
    }
    if (PyErr_Occurred() == nullptr) {
      PyObject* text = response_to_str(response, module->panic_exception);
      // An interrupt that came while cargo ran, or after, is raised here rather
      // than after this returns, where the answer would be lost in flight.
      if (text == nullptr || PyErr_CheckSignals() == 0) return text;
      Py_DECREF(text);
    }
    attach_answer(response);
    return nullptr;
#if defined(__GLIBCXX__)
  } catch (abi::__forced_unwind&) {
    throw;  // a thread ended by the interpreter at its exit: not a fault, and not to be swallowed
#endif
  } catch (const std::exception& fault) {
    PyErr_SetString(module->panic_exception, fault.what());
  } catch (...) {
    PyErr_SetString(module->panic_exception, "internal fault of unknown kind");
  }
  return nullptr;
}

constexpr char kCompilerDoc[] =
    "Compiler()\n--\n\n"
    "A compiler driven by JSON commands.\n\n"
    "`unsendable`: the handle holds a stateful build cache, so it is bound to the\n"
    "thread that created it.";

constexpr char kCommandDoc[] =
    "command($self, cmd_json, *, stop=None)\n--\n\n"
    "Apply a command JSON and return the response JSON.\n\n"
    "Domain errors are reported in-band as `{\"ok\": false, \"error\": ...}` JSON,\n"
    "not raised. The interpreter lock is released while the command runs. An\n"
    "interrupt (KeyboardInterrupt) that arrives meanwhile is raised when it ends,\n"
    "with the answer it ended with as the exception's `answer`; in the main thread\n"
    "it stops a compile before cargo starts, or ends cargo while it builds.\n"
    "`stop`, a callable taking no arguments, is asked the same on any thread:\n"
    "when it returns true the compile stops there and answers its error (a\n"
    "build ended by it reads \"build: interrupted: ...\"); what it raises is raised.";

PyMethodDef compiler_methods[] = {
    {"command", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(compiler_command)),
     METH_VARARGS | METH_KEYWORDS, kCommandDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot compiler_slots[] = {
    {Py_tp_doc, const_cast<char*>(kCompilerDoc)},
    {Py_tp_new, reinterpret_cast<void*>(compiler_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(compiler_dealloc)},
    {Py_tp_methods, compiler_methods},
    {0, nullptr},
};

// The dotted prefix becomes `Compiler.__module__`, the package path the class
// is imported from; the last part is its `__name__` and must match the name the
// docstring's text signature starts with.
PyType_Spec compiler_spec = {
    "velkor_compile._velkor_compile.Compiler",
    sizeof(CompilerObject),
    0,
    Py_TPFLAGS_DEFAULT,  // not a base type: subclasses could not be kept to one thread
    compiler_slots,
};

// ---------------------------------------------------------------------------
// The module.

PyObject* module_version(PyObject*, PyObject*) {
  return PyUnicode_FromStringAndSize(velkor::kVersion.data(),
                                     static_cast<Py_ssize_t>(velkor::kVersion.size()));
}

constexpr char kVersionDoc[] = "version()\n--\n\nThe library version.";

PyMethodDef module_methods[] = {
    {"version", module_version, METH_NOARGS, kVersionDoc},
    {nullptr, nullptr, 0, nullptr},
};

int module_exec(PyObject* module) {
  ModuleState* state = module_state(module);

  const std::string version(velkor::kVersion);
  if (PyModule_AddStringConstant(module, "__version__", version.c_str()) < 0) return -1;

  state->compiler_type = PyType_FromModuleAndSpec(module, &compiler_spec, nullptr);
  if (state->compiler_type == nullptr) return -1;
  if (PyModule_AddObjectRef(module, "Compiler", state->compiler_type) < 0) return -1;

  state->panic_exception = interpreter_panic_exception();
  if (state->panic_exception == nullptr) return -1;
  if (PyModule_AddObjectRef(module, "PanicException", state->panic_exception) < 0) return -1;
  return 0;
}

int module_traverse(PyObject* module, visitproc visit, void* arg) {
  ModuleState* state = module_state(module);
  if (state == nullptr) return 0;
  Py_VISIT(state->compiler_type);
  Py_VISIT(state->panic_exception);
  return 0;
}

int module_clear(PyObject* module) {
  ModuleState* state = module_state(module);
  if (state == nullptr) return 0;
  Py_CLEAR(state->compiler_type);
  Py_CLEAR(state->panic_exception);
  return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

constexpr char kModuleDoc[] = "The native module (`velkor_compile._velkor_compile`).";

// A non-zero state size also makes importlib.reload() leave an initialised
// module alone instead of running the exec slot a second time.
PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_velkor_compile",
    kModuleDoc,
    sizeof(ModuleState),
    module_methods,
    module_slots,
    module_traverse,
    module_clear,
    module_free,
};

}  // namespace

PyMODINIT_FUNC PyInit__velkor_compile(void) { return PyModuleDef_Init(&module_def); }
