// The echo module: one endpoint, GET /kor-echo/v1/echo?text=..., which answers its text.
//
//   Vexa::LoadModule<EchoModule>(record, "kor-echo");  // entry.cpp
//
// The smallest module a plugin author writes against the installed runtime.
#pragma once

#include <string>

#include "runtime/app_module.h"

class EchoModule final : public Vexa::AppModule {
 public:
  // GET /kor-echo/v1/echo: `text` as it came.
  std::string Repeat(const std::string& text);

 protected:
  // Declares the endpoint with the API tags.
  void OnDeclare() override;
};
