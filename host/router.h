// Routes of the host's HTTP front: a method and a path template whose segments are literal or
// "{placeholder}" (any one non-empty segment), looked up per segment.
//
//   router.Add("GET", "/kor-settings/v2/local/{key}", handler);
//   RouteLookup found = router.Find("GET", "/kor-settings/v2/local/GeoInfo");
//   // found.handler, found.arguments["key"] == "GeoInfo"
//
// HEAD finds the GET routes. A path that some route matches under other methods is told
// apart from one that no route matches, for 405 and 404.
//
// Threading: Add before serving; Find from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace VexaHost {

using RouteArguments = std::map<std::string, std::string, std::less<>>;
using RouteHandler =
    std::function<void(const httplib::Request&, httplib::Response&, const RouteArguments&)>;

struct RouteLookup {
  const RouteHandler* handler = nullptr;  // null: no route for the method and path
  std::size_t route = 0;                  // with a handler: its route's place, in the order added
  RouteArguments arguments;
  std::string allowed;  // with no handler: the methods the path has, as "GET, PATCH"
};

class Router {
 public:
  // Adds a route; the first route added wins where two match.
  void Add(std::string method, std::string_view pathTemplate, RouteHandler handler);
  RouteLookup Find(std::string_view method, std::string_view path) const;

 private:
  struct Route {
    std::string method;
    std::vector<std::string> segments;
    RouteHandler handler;
  };
  static bool Matches(const Route& route, const std::vector<std::string_view>& segments,
                      RouteArguments* arguments);
  std::vector<Route> routes_;
};

// The segments of a path between its slashes; the leading slash yields no empty segment.
std::vector<std::string_view> PathSegments(std::string_view path);

}  // namespace VexaHost
