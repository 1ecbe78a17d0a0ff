// Builds the sample database that lies beside the program: a small shop with customers, products
// and orders, using every field type the application offers, an auto-number key in each table,
// empty (Null) values, long memos, indexes, and the relationships of orders to their customers and
// products.
//   make_sample OUTPUT.mdb
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/base/value_text.h"
#include "jet/database.h"

using jet::ColumnType;
using jet::Value;

namespace {

jet::NewColumn col(const std::string& name, ColumnType type, int size = 0, bool required = false) {
  jet::NewColumn c;
  c.name = name;
  c.type = type;
  c.size = size;
  c.required = required;
  c.allowZeroLength = !required;
  return c;
}

jet::NewColumn key(const std::string& name) {
  jet::NewColumn c = col(name, ColumnType::Long, 0, true);
  c.autoNumber = true;
  return c;
}

jet::NewIndex index(const std::string& name, uint16_t column, bool primary) {
  jet::NewIndex i;
  i.name = name;
  i.columns = {{column, true}};
  i.primaryKey = primary;
  i.unique = primary;
  i.required = primary;
  return i;
}

Value text(const char* s) { return s ? Value(std::string(s)) : Value(jet::Null{}); }
Value money(int64_t cents) { return jet::Currency{cents * 100}; }
Value date(int y, int m, int d, int hh = 0, int mm = 0) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:00", y, m, d, hh, mm);
  return jet::fromText(ColumnType::DateTime, buf);
}

std::string longNote(const std::string& subject, int paragraphs) {
  std::string s;
  for (int p = 1; p <= paragraphs; ++p) {
    s += "Note " + std::to_string(p) + " on " + subject +
         ": delivered on time, packed well, and the invoice matched the order. The customer asked "
         "to be told about new stock in the spring catalogue and prefers deliveries before noon.";
    if (p < paragraphs) s += "\r\n\r\n";
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample OUTPUT.mdb\n");
    return 2;
  }
  const std::string path = argv[1];
  const std::string partial = path + ".part";
  try {
    std::filesystem::remove(partial);
    {
      auto db = jet::Database::create(partial, {jet::Format::Jet4Layout, 1252, 1033});

      jet::NewTable customers{"Customers",
                              {key("CustomerID"), col("Name", ColumnType::Text, 50, true),
                               col("City", ColumnType::Text, 40), col("Email", ColumnType::Text, 80),
                               col("Active", ColumnType::Boolean), col("Since", ColumnType::DateTime),
                               col("Notes", ColumnType::Memo)},
                              {index("PrimaryKey", 0, true), index("Name", 1, false)}};
      db->createTable(customers);
      struct C {
        const char* name;
        const char* city;
        const char* email;
        bool active;
        int y, m, d;
        int notes;
      };
      const C cs[] = {
          {"Harbour Lane Bakery", "Porthaven", "orders@harbourlane.example", true, 2015, 3, 2, 3},
          {"Miriam Okafor", "Eastbridge", nullptr, true, 2018, 11, 20, 0},
          {"Northwind Cycle Repairs", "Kelby", "shop@northcycle.example", false, 2012, 6, 14, 40},
          {"Tomasz Lewandowski", "Porthaven", "t.lewandowski@mail.example", true, 2021, 1, 7, 1},
          {"Green Fig Café", "Ashford Vale", "hello@greenfig.example", true, 2019, 9, 30, 0},
          {"Ingrid Solberg", nullptr, "ingrid.s@mail.example", true, 2023, 4, 18, 2},
      };
      for (const C& c : cs)
        db->insertRow("Customers", {jet::Null{}, text(c.name), text(c.city), text(c.email), c.active,
                                    date(c.y, c.m, c.d), c.notes ? Value(longNote(c.name, c.notes)) : Value(jet::Null{})});

      jet::NewTable products{"Products",
                             {key("ProductID"), col("Name", ColumnType::Text, 60, true),
                              col("Category", ColumnType::Byte), col("Price", ColumnType::Currency),
                              col("InStock", ColumnType::Integer), col("WeightKg", ColumnType::Single),
                              col("Rating", ColumnType::Double), col("Description", ColumnType::Memo)},
                             {index("PrimaryKey", 0, true)}};
      db->createTable(products);
      struct P {
        const char* name;
        int category;
        int64_t cents;
        int stock;
        float kg;
        double rating;
        const char* description;
      };
      const P ps[] = {
          {"Sourdough starter kit", 1, 1450, 32, 0.4f, 4.6, "Live culture, flour blend and a feeding guide."},
          {"Cast-iron loaf tin", 2, 2999, 12, 1.8f, 4.85, nullptr},
          {"Bicycle chain, 9-speed", 3, 2150, 0, 0.3f, 4.1, "Fits most 9-speed drivetrains."},
          {"Cold brew coffee filter", 4, 899, 140, 0.05f, 3.9, nullptr},
          {"Wool cycling gloves", 3, 3400, 7, 0.12f, 4.4, "Merino wool, sizes S to XL."},
      };
      for (const P& p : ps)
        db->insertRow("Products", {jet::Null{}, text(p.name), int64_t{p.category}, money(p.cents),
                                   int64_t{p.stock}, p.kg, p.rating, text(p.description)});

      jet::NewTable orders{"Orders",
                           {key("OrderID"), col("CustomerID", ColumnType::Long, 0, true),
                            col("ProductID", ColumnType::Long, 0, true), col("Quantity", ColumnType::Integer),
                            col("Ordered", ColumnType::DateTime), col("Shipped", ColumnType::Boolean),
                            col("Discount", ColumnType::Single), col("Total", ColumnType::Currency),
                            col("Comment", ColumnType::Text, 255)},
                           {index("PrimaryKey", 0, true), index("CustomerID", 1, false)}};
      db->createTable(orders);
      struct O {
        int customer, product, quantity;
        int y, m, d, hh, mm;
        bool shipped;
        float discount;
        const char* comment;
      };
      const O os[] = {
          {1, 1, 4, 2024, 1, 15, 9, 30, true, 0.0f, nullptr},
          {1, 2, 2, 2024, 2, 3, 14, 5, true, 0.1f, "Gift wrap both tins."},
          {3, 3, 10, 2024, 2, 20, 11, 0, true, 0.15f, "Trade account"},
          {2, 4, 1, 2024, 3, 1, 16, 45, false, 0.0f, nullptr},
          {5, 4, 24, 2024, 3, 8, 8, 15, true, 0.05f, "Leave at the back door."},
          {4, 5, 1, 2024, 3, 9, 19, 20, false, 0.0f, nullptr},
          {6, 1, 2, 2024, 3, 12, 10, 0, false, 0.0f, ""},
      };
      for (const O& o : os) {
        int64_t unit = ps[o.product - 1].cents;
        int64_t total = static_cast<int64_t>(unit * o.quantity * (1.0 - o.discount) + 0.5);
        db->insertRow("Orders", {jet::Null{}, int64_t{o.customer}, int64_t{o.product}, int64_t{o.quantity},
                                 date(o.y, o.m, o.d, o.hh, o.mm), o.shipped, o.discount, money(total),
                                 text(o.comment)});
      }

      // Each order names its customer and its product. The engine records relationships without
      // enforcing them; the orders above keep to them all the same.
      for (const char* parent : {"Customers", "Products"}) {
        const std::string keyName = std::string(parent) == "Customers" ? "CustomerID" : "ProductID";
        jet::NewRelationship r;
        r.name = std::string(parent) + "Orders";
        r.table = parent;
        r.foreignTable = "Orders";
        r.columns = {{keyName, keyName}};
        db->createRelationship(r);
      }
      db->close();
    }
    std::filesystem::rename(partial, path);
  } catch (const std::exception& e) {
    std::filesystem::remove(partial);
    std::fprintf(stderr, "make_sample: %s\n", e.what());
    return 1;
  }
  return 0;
}
