// Shared set-up for the store's tests: a private directory with a store, and request lists.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mml/store.h"
#include "mml/vynmall.h"
#include "tests/support/portable.h"

namespace vyn::mml::test {

// A request list from MMLAlloc, freed with MMLFreeVarBindList. Every name must convert.
struct Request {
    explicit Request(const std::vector<std::string> &names) {
        list.len = static_cast<uint32_t>(names.size());
        list.list = static_cast<MmlVarBind *>(MMLAlloc(list.len * sizeof(MmlVarBind)));
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(MMLStrToMMLOid(names[i].c_str(), &list.list[i].oid), 0) << names[i];
            list.list[i].type = MML_TYPE_NULL;
        }
    }
    ~Request() { MMLFreeVarBindList(&list); }

    MmlVarBind &operator[](std::size_t i) { return list.list[i]; }
    void SetInteger(std::size_t i, int32_t value) {
        list.list[i].type = MML_TYPE_INTEGER;
        list.list[i].value.integer = value;
    }
    void SetText(std::size_t i, const std::string &text) {  // `text` must outlive the request
        list.list[i] = {list.list[i].oid, MML_TYPE_OCTETS, {}, {}, 0, 0};
        list.list[i].value.text = const_cast<char *>(text.data());
        list.list[i].length = static_cast<uint32_t>(text.size());
    }
    // A text the library returned: owned, terminated.
    std::string Text(std::size_t i) const {
        const MmlVarBind &record = list.list[i];
        EXPECT_TRUE(record.type == MML_TYPE_OCTETS && record.owned != 0);
        EXPECT_EQ(record.value.text[record.length], '\0');
        return {record.value.text, record.length};
    }

    MmlVarBindList list{};
};

struct Outcome {
    int32_t result = -1, status = -1, index = -1;
};
inline Outcome Send(MmlSessionHandle session, int32_t type, Request &request) {
    Outcome out;
    out.result = MMLRequestLocal(session, type, &request.list, &out.status, &out.index);
    return out;
}

// A fresh directory holding the path of a store (not yet created) exported as VYNLOOP_MIB.
class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = vyn::test::MakeTempDirectory("vynmml.").string();
        path_ = dir_ + "/mib.db";
        vyn::test::SetEnvironment("VYNLOOP_MIB", path_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Creates the store with instance "demo", ports 1 and 2.
    std::unique_ptr<Store> Provisioned(bool resident = false) {
        Error error;
        auto store = Store::Create(path_, error);
        std::vector<PortDevice> ports = {{1, "COM1"}, {2, "COM2"}};
        EXPECT_TRUE(store && store->Provision("demo", ports, resident, error)) << error.message;
        return store;
    }
    MmlSessionHandle OpenSession(int32_t busyMs = 0) {
        MmlSessionHandle session = 0;
        EXPECT_EQ(MMLInitialize(1, busyMs, 0, 0, 0, &session), 0);
        EXPECT_NE(session, 0u);
        return session;
    }
    Value Stored(Store &store, const std::string &name) {
        Value value;
        Error error;
        EXPECT_TRUE(store.GetValue(name, value, error)) << error.message;
        return value;
    }

    std::string dir_;
    std::string path_;
};

}  // namespace vyn::mml::test
