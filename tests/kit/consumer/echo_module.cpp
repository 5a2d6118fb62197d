#include "echo_module.h"

#include "dispatch/endpoint_declaration.h"

std::string EchoModule::Repeat(const std::string& text) {
  return text;
}

void EchoModule::OnDeclare() {
  Vexa::DeclareEndpoint(Dispatcher(), Registry(), Vexa::HttpMethod::Get, "/kor-echo/v1/echo",
                        &EchoModule::Repeat, this)
      .Tags(ApiTags())
      .Query("text");
}
