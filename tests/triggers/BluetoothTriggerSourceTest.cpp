#include "triggers/BluetoothTriggerSource.h"

#include <gtest/gtest.h>

#include "support/OrvelTest.h"

namespace orvel {
namespace {

class BluetoothTriggerSourceTest : public test::OrvelTest {};

TEST_F(BluetoothTriggerSourceTest, PairedDevicesSortByNameAsPlainText) {
    sim().bluetooth().pair({"00-00-00-00-00-01", "mouse", false});
    sim().bluetooth().pair({"00-00-00-00-00-02", std::nullopt, false});
    sim().bluetooth().pair({"", "No address", false});
    sim().bluetooth().pair({"00-00-00-00-00-03", "Keyboard", true});
    sim().bluetooth().pair({"00-00-00-00-00-04", "Keyboard", false});
    using P = BluetoothTriggerSource::PairedDevice;
    EXPECT_EQ(BluetoothTriggerSource::shared().pairedDevices(),
              (std::vector<P>{{"00-00-00-00-00-02", "00-00-00-00-00-02"},
                              {"00-00-00-00-00-03", "Keyboard"},
                              {"00-00-00-00-00-04", "Keyboard"},
                              {"00-00-00-00-00-01", "mouse"}}));
}

TEST_F(BluetoothTriggerSourceTest, ConnectedNowComparesTheAddressExactly) {
    BluetoothTriggerSource& source = BluetoothTriggerSource::shared();
    sim().bluetooth().pair({"a4-83-e7-11-22-33", "Headphones", true});
    EXPECT_TRUE(source.isConnected(std::string("a4-83-e7-11-22-33")));
    EXPECT_FALSE(source.isConnected(std::string("A4-83-E7-11-22-33")));
    EXPECT_FALSE(source.isConnected(std::string("a4:83:e7:11:22:33")));
    EXPECT_FALSE(source.isConnected(std::nullopt));
    sim().bluetooth().setConnected("a4-83-e7-11-22-33", false);
    EXPECT_FALSE(source.isConnected(std::string("a4-83-e7-11-22-33")));
}

}  // namespace
}  // namespace orvel
