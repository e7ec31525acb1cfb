// tav-pcaps: a CGI page with the remote user and the capabilities of the serving process.
#include <cstdlib>
#include <iostream>

#include "pcaps/probe_page.h"

int main() {
  return tav_pcaps::writeProbePage(std::cout, std::getenv("REMOTE_USER"));
}
