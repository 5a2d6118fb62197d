#include "router.h"

namespace VexaHost {

std::vector<std::string_view> PathSegments(std::string_view path) {
  std::vector<std::string_view> segments;
  if (!path.empty() && path.front() == '/') {
    path.remove_prefix(1);
  }
  while (true) {
    const std::size_t slash = path.find('/');
    segments.push_back(path.substr(0, slash));
    if (slash == std::string_view::npos) {
      return segments;
    }
    path.remove_prefix(slash + 1);
  }
}

void Router::Add(std::string method, std::string_view pathTemplate, RouteHandler handler) {
  Route route{std::move(method), {}, std::move(handler)};
  for (std::string_view segment : PathSegments(pathTemplate)) {
    route.segments.emplace_back(segment);
  }
  routes_.push_back(std::move(route));
}

bool Router::Matches(const Route& route, const std::vector<std::string_view>& segments,
                     RouteArguments* arguments) {
  if (route.segments.size() != segments.size()) {
    return false;
  }
  for (std::size_t index = 0; index < segments.size(); ++index) {
    const std::string& expected = route.segments[index];
    const bool placeholder =
        expected.size() > 2 && expected.front() == '{' && expected.back() == '}';
    if (placeholder ? segments[index].empty() : expected != segments[index]) {
      return false;
    }
    if (placeholder && arguments != nullptr) {
      (*arguments)[expected.substr(1, expected.size() - 2)] = std::string(segments[index]);
    }
  }
  return true;
}

RouteLookup Router::Find(std::string_view method, std::string_view path) const {
  const std::string_view wanted = method == "HEAD" ? "GET" : method;
  const std::vector<std::string_view> segments = PathSegments(path);
  RouteLookup found;
  for (const Route& route : routes_) {
    if (route.method == wanted && Matches(route, segments, &found.arguments)) {
      found.handler = &route.handler;
      found.route = static_cast<std::size_t>(&route - routes_.data());
      found.allowed.clear();
      return found;
    }
    found.arguments.clear();
    if (Matches(route, segments, nullptr) &&
        found.allowed.find(route.method) == std::string::npos) {
      found.allowed += (found.allowed.empty() ? "" : ", ") + route.method;
    }
  }
  return found;
}

}  // namespace VexaHost
