// A class with a constructor, a destructor, and new[] given back with delete.
#include <cstdio>

class Account {
public:
    Account(int n) : size(n), history(new int[n])
    {
        for (int i = 0; i < n; i++)
            history[i] = 0;
    }
    ~Account()
    {
        delete history;
    }
    void add(int amount)
    {
        history[0] += amount;
        balance += amount;
    }
    int balance = 0;

private:
    int size;
    int *history;
};

int main()
{
    Account a(3);
    a.add(10);
    Account *b = new Account(2);
    b->add(5);
    delete b;
    printf("%d\n", a.balance);
    return 0;
}
