// Shared set-up for the store's tests: a private directory with a store, and request lists.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "mml/store.h"
#include "mml/vynmall.h"

namespace vyn::mml::test {

// A request list from MMLAlloc, freed with MMLFreeVarBindList. Every name must convert.
class Request {
  public:
    explicit Request(std::initializer_list<std::string> names);
    ~Request() { MMLFreeVarBindList(&list); }
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    MmlVarBind &operator[](std::size_t i) { return list.list[i]; }
    void SetInteger(std::size_t i, int32_t value);
    void SetText(std::size_t i, const std::string &text);  // `text` must outlive the request
    std::string Text(std::size_t i) const;

    MmlVarBindList list{};
};

struct Outcome {
    int32_t result = -1;
    int32_t status = -1;
    int32_t index = -1;
};
Outcome Send(MmlSessionHandle session, int32_t type, Request &request);

// A fresh directory holding the path of a store (not yet created) exported as VYNLOOP_MIB.
class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the store with instance "demo", ports 1 and 2.
    std::unique_ptr<Store> Provisioned(bool resident = false);
    MmlSessionHandle OpenSession(int32_t busyMs = 0);

    std::string dir_;
    std::string path_;
};

}  // namespace vyn::mml::test
