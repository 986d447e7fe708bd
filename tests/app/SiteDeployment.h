// Releases staged with velmor-pack and made current by publish.sh in a site folder that the
// deployment's servers serve (tests/app/e2e/servers.sh), which reloads the nginx serving it.
// publish.sh is a Unix program that Wine starts as is.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "LauncherEndToEndFixture.h"

const std::string kSite = kState + "\\site";

class SiteDeployment : public LauncherEndToEnd {
protected:
  // `nginx`: the names of the servers whose nginx serves `site`.
  SiteDeployment(std::string site, std::vector<std::string> nginx)
      : m_site(std::move(site)), m_nginx(std::move(nginx)) {}

  void SetUp() override;

  // A new, empty staging folder.
  std::string NewStaging();
  // velmor-pack writes loader.db and its package into a new staging folder.
  std::string Stage(const std::string& library, bool contentNamed = false);
  // publish.sh makes the staged folder the current release and reloads the site's nginx.
  void PublishStaged(const std::string& staging) { PublishStagedTo(staging, m_site, m_nginx); }
  // The same into another site folder, served by the nginx servers named.
  static void PublishStagedTo(const std::string& staging, const std::string& site,
                              const std::vector<std::string>& nginx);
  void PublishRelease(const std::string& library) { PublishStaged(Stage(library)); }

  // What the launcher keeps: the configuration, the package it downloaded and the installed library.
  void ExpectInstalledPair(const std::string& release, const std::string& library);

  std::string m_site;
  std::vector<std::string> m_nginx;
  int m_stagings = 0;
};
